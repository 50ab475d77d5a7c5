#pragma once
// SettingsStore: the user's preferences as named numbers, texts and byte blocks.
//
// Registry form: QSettings in the native format, user scope, organisation "Vantorel", application
// "Mistvale" (on Linux $XDG_CONFIG_HOME/Vantorel/Mistvale.conf, on Windows the registry key
// HKEY_CURRENT_USER\Software\Vantorel\Mistvale). File form: an INI file, by default the program's own
// file name with ".ini" beside the program, values in the section "Settings" unless one is named.
//
// Nothing is cached: every operation opens the store, reads or writes, and closes it again. A value of
// the wrong type (a text where a number belongs, bytes where a text belongs, ...) counts as missing.
// The store's fields are set by Open and cleared by Close on the user-interface thread; between the
// two, operations may run on any thread (each uses its own QSettings).

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

#include "platform/wide_string.h"

class QSettings;

namespace mistvale {

enum class SettingsForm { Registry, File };
enum class SettingsRoot { CurrentUser, LocalMachine };

// Value names of the program's settings.
inline constexpr const char* kSettingRefreshTime = "RefreshTime";
inline constexpr const char* kSettingFlags = "Flags";
inline constexpr const char* kSettingMain = "Main";
inline constexpr const char* kSettingTree = "Tree";
inline constexpr const char* kSettingLastCheck = "LastCheck";
inline constexpr const char* kSettingLastCheckVersion = "LastCheckVersion";
// The MQTT broker values are published to ("mqtt://host:1883"); empty or missing: none.
inline constexpr const char* kSettingMqttUrl = "MqttUrl";

// Defaults of the program's settings.
inline constexpr std::uint64_t kDefaultRefreshTime = 2;
inline constexpr std::uint64_t kDefaultFlags = 1;
// Flags bit 0: check for updates at start-up.
inline constexpr std::uint32_t kFlagAutoUpdate = 0x1;

class SettingsStore {
public:
    SettingsStore() = default;
    ~SettingsStore() = default;
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // keyPath "Software\\Vantorel\\Mistvale" names organisation and application by its last two parts
    // (a single part is the application of no organisation). filePath is for the file form; empty
    // gives the default file. Returns 1 (nothing can fail here).
    int Open(SettingsForm form, SettingsRoot root = SettingsRoot::CurrentUser,
             const QString& keyPath = QStringLiteral("Software\\Vantorel\\Mistvale"),
             const QString& filePath = QString());
    // Forgets what Open set up; later operations fail (and Get* return their defaults).
    void Close();
    bool IsOpen() const { return open_; }

    // The stored unsigned number, or defaultValue when missing, of another type, negative, or not a
    // plain decimal number (the file form takes the leading decimal digits of a text).
    std::uint64_t GetNumber(const char* name, std::uint64_t defaultValue,
                            const char* section = nullptr) const;
    // Stores an unsigned number; 1 on success, else 0.
    int SetNumber(const char* name, std::uint64_t value, const char* section = nullptr);

    // 1 with the stored text in out; else out = defaultText and 0.
    int GetString(const char* name, QString& out, const QString& defaultText = QString(),
                  const char* section = nullptr) const;
    int GetString(const char* name, WideString& out, const char16_t* defaultText = u"",
                  const char* section = nullptr) const;
    int SetString(const char* name, const QString& text, const char* section = nullptr);
    int SetString(const char* name, const WideString& text, const char* section = nullptr);

    // Byte blocks (the tree-list's column layout). 1 with the bytes in out; else out is cleared and 0.
    int GetBinary(const char* name, QByteArray& out, const char* section = nullptr) const;
    int SetBinary(const char* name, const QByteArray& bytes, const char* section = nullptr);

    // Removes a value; 1 when the store could be written.
    int Remove(const char* name, const char* section = nullptr);

    // Where the values live: the INI file, or the native store's file (a registry path on Windows).
    QString Location() const;

private:
    std::unique_ptr<QSettings> OpenSettings(const char* section) const;
    static QString KeyName(const char* name);

    bool open_ = false;
    SettingsForm form_ = SettingsForm::Registry;
    SettingsRoot root_ = SettingsRoot::CurrentUser;
    QString organisation_;
    QString application_;
    QString filePath_;
};

} // namespace mistvale
