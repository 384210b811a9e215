#pragma once

// Qt's own texts (standard buttons, the print, file and colour dialogs) in
// Chinese like the rest of the tool, and Chinese month and day names in its
// calendars: Qt's translation qtbase_zh_CN installed on the application, and
// the Chinese locale made the default. False when the translation cannot be
// loaded (Debian's qt6-translations-l10n missing): Qt's texts stay English.
bool speakChinese();
