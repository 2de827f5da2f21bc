#pragma once

#include <QString>

// The program's title: window caption, tray tip, message-box caption and the
// application name under which every setting is stored.
inline const QString kApplicationTitle = QStringLiteral("Valdrome Kestu Tovrel");

// The settings, and the main window's size and place. Key names are matched
// without regard to letter case, so the spellings below name one key each; they
// are kept as the readers and writers have always spelled them. The enum and the
// table of keys stand in the same order.
enum class Setting { State, InboxPath, OutboxPath, ErrorsPath, FileFormat, WindowGeometry, FileNameFormat };

struct SettingKey {
    const char* section;
    const char* keyRead;         // as the main window and the processor read it
    const char* keyReadByDialog; // as the dialog that edits it reads it
    const char* keyWritten;      // as the dialog's OK writes it
};

const SettingKey& settingKey(Setting setting);

// The value a reader uses when the key is absent. The three folders default to
// DefaultFolders::base() followed by "/inbox", "/outbox", "/errors".
QString settingDefault(Setting setting);

// The program folder: the executable's folder, without a trailing "/".
QString programFolder();

// A folder setting as the file system knows it: a leading "~/" (or "~" alone)
// is the user's home folder, as in a shell. The setting itself keeps the "~".
QString withHomeFolder(const QString& path);
