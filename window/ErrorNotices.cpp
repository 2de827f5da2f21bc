#include "window/ErrorNotices.h"

ErrorNotices::ErrorNotices(int quietMilliseconds, QObject* parent) : QObject(parent)
{
    wait_.setSingleShot(true);
    wait_.setInterval(quietMilliseconds);
    connect(&wait_, &QTimer::timeout, this, &ErrorNotices::showPending);
}

void ErrorNotices::fileErrorFiled()
{
    ++pending_;
    if (!wait_.isActive())
        wait_.start();
}

QString ErrorNotices::text(int files)
{
    if (files == 1)
        return QStringLiteral("1 file could not be filed; it is in the errors folder.");
    return QStringLiteral("%1 files could not be filed; they are in the errors folder.").arg(files);
}

void ErrorNotices::showPending()
{
    emit notice(text(pending_));
    pending_ = 0;
}
