#include "engine/AudioFormats.h"

#include "engine/Id3v2Guard.h"

#include <taglib/apefile.h>
#include <taglib/asffile.h>
#include <taglib/flacfile.h>
#include <taglib/mp4file.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavpackfile.h>

namespace AudioFormats {
namespace {

template <typename File> std::unique_ptr<TagLib::File> openAs(TagLib::IOStream* stream)
{
    return std::make_unique<File>(stream);
}

std::unique_ptr<TagLib::File> openFlac(TagLib::IOStream* stream)
{
    return std::make_unique<TagLib::FLAC::File>(stream, Id3v2Guard::factory());
}

// An Ogg file holds Vorbis, Opus or FLAC; the first that reads is taken.
std::unique_ptr<TagLib::File> openOgg(TagLib::IOStream* stream)
{
    using Open = std::unique_ptr<TagLib::File> (*)(TagLib::IOStream*);
    const Open kinds[] = {openAs<TagLib::Ogg::Vorbis::File>, openAs<TagLib::Ogg::Opus::File>,
                          openAs<TagLib::Ogg::FLAC::File>};
    std::unique_ptr<TagLib::File> file;
    for (const Open open : kinds) {
        file = open(stream);
        if (file->isValid())
            break;
    }
    return file;
}

const Format kFormats[] = {
    {"mp3", Kind::Mpeg},
    {"flac", Kind::Other, openFlac},
    {"ogg", Kind::Other, openOgg},
    {"oga", Kind::Other, openOgg},
    {"opus", Kind::Other, openAs<TagLib::Ogg::Opus::File>},
    {"m4a", Kind::Other, openAs<TagLib::MP4::File>},
    {"wma", Kind::Other, openAs<TagLib::ASF::File>},
    {"wv", Kind::Other, openAs<TagLib::WavPack::File>},
    {"ape", Kind::Other, openAs<TagLib::APE::File>},
    {"aiff", Kind::Aiff},
    {"aif", Kind::Aiff},
};

} // namespace

const Format* of(const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return nullptr;
    const QStringView extension = QStringView(fileName).mid(dot + 1);
    for (const Format& format : kFormats) {
        if (extension.compare(QLatin1StringView(format.extension), Qt::CaseInsensitive) == 0)
            return &format;
    }
    return nullptr;
}

bool holdsAudio(const TagLib::File& file)
{
    const TagLib::AudioProperties* audio = file.audioProperties();
    return file.isValid() && audio && audio->lengthInMilliseconds() > 0 && audio->sampleRate() > 0;
}

QString outboxName(const QString& inboxName, const QString& inext, const QString& outext)
{
    if (inboxName.size() <= 4 || !inboxName.endsWith(QLatin1Char('.') + inext, Qt::CaseInsensitive))
        return inboxName;
    return inboxName.chopped(4) + QLatin1Char('.') + outext;
}

} // namespace AudioFormats
