#include "app/settings_store.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include "dialogs/dialog_base.h"

namespace mistvale {

namespace {

// A text that is a plain decimal number fitting in 64 bits (blanks around it allowed).
bool ParseDecimal(const QString& text, bool prefixOnly, std::uint64_t* value) {
    qsizetype at = 0;
    while (at < text.size() && text[at].isSpace())
        ++at;
    if (at >= text.size() || text[at] < QLatin1Char('0') || text[at] > QLatin1Char('9'))
        return false;
    std::uint64_t number = 0;
    for (; at < text.size() && text[at] >= QLatin1Char('0') && text[at] <= QLatin1Char('9'); ++at) {
        std::uint64_t digit = static_cast<std::uint64_t>(text[at].unicode() - u'0');
        if (number > (UINT64_MAX - digit) / 10)
            return false;
        number = number * 10 + digit;
    }
    if (!prefixOnly) {
        while (at < text.size() && text[at].isSpace())
            ++at;
        if (at != text.size())
            return false;
    }
    *value = number;
    return true;
}

} // namespace

int SettingsStore::Open(SettingsForm form, SettingsRoot root, const QString& keyPath,
                        const QString& filePath) {
    form_ = form;
    root_ = root;
    QStringList parts = QString(keyPath)
                            .replace(QLatin1Char('/'), QLatin1Char('\\'))
                            .split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (parts.size() >= 2) {
        organisation_ = parts[parts.size() - 2];
        application_ = parts[parts.size() - 1];
    } else {
        organisation_.clear();
        application_ = parts.isEmpty() ? QStringLiteral("Mistvale") : parts[0];
    }
    filePath_ = filePath;
    if (form_ == SettingsForm::File && filePath_.isEmpty()) {
        // The program's own file name with ".ini", beside the program.
        QString program = QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
        if (program.isEmpty()) {
            filePath_ = application_ + QStringLiteral(".ini");
        } else {
            QFileInfo info(program);
            filePath_ =
                info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".ini");
        }
    }
    open_ = true;
    return 1;
}

void SettingsStore::Close() {
    open_ = false;
    organisation_.clear();
    application_.clear();
    filePath_.clear();
}

QString SettingsStore::KeyName(const char* name) {
    return QString::fromUtf8(name ? name : "");
}

std::unique_ptr<QSettings> SettingsStore::OpenSettings(const char* section) const {
    if (!open_)
        return nullptr;
    std::unique_ptr<QSettings> settings;
    if (form_ == SettingsForm::File) {
        settings = std::make_unique<QSettings>(filePath_, QSettings::IniFormat);
        settings->beginGroup(section ? QString::fromUtf8(section) : QStringLiteral("Settings"));
    } else {
        settings = std::make_unique<QSettings>(QSettings::NativeFormat,
                                               root_ == SettingsRoot::CurrentUser ? QSettings::UserScope
                                                                                  : QSettings::SystemScope,
                                               organisation_, application_);
        if (section)
            settings->beginGroup(QString::fromUtf8(section));
    }
    return settings;
}

QString SettingsStore::Location() const {
    auto settings = OpenSettings(nullptr);
    return settings ? settings->fileName() : QString();
}

std::uint64_t SettingsStore::GetNumber(const char* name, std::uint64_t defaultValue,
                                       const char* section) const {
    auto settings = OpenSettings(section);
    if (!settings)
        return defaultValue;
    QVariant value = settings->value(KeyName(name));
    if (!value.isValid())
        return defaultValue;
    std::uint64_t number = 0;
    switch (value.typeId()) {
    case QMetaType::QString:
        if (ParseDecimal(value.toString(), form_ == SettingsForm::File, &number))
            return number;
        return defaultValue;
    // Numbers the native store keeps in binary form (32-bit or 64-bit values of the registry): the
    // bits as they are, as an unsigned number.
    case QMetaType::Int:
        return static_cast<std::uint32_t>(value.toInt());
    case QMetaType::UInt:
        return value.toUInt();
    case QMetaType::LongLong:
        return static_cast<std::uint64_t>(value.toLongLong());
    case QMetaType::ULongLong:
        return value.toULongLong();
    default:
        return defaultValue;
    }
}

int SettingsStore::SetNumber(const char* name, std::uint64_t value, const char* section) {
    auto settings = OpenSettings(section);
    if (!settings)
        return 0;
    settings->setValue(KeyName(name), QVariant::fromValue<qulonglong>(value));
    settings->sync();
    return settings->status() == QSettings::NoError ? 1 : 0;
}

int SettingsStore::GetString(const char* name, QString& out, const QString& defaultText,
                             const char* section) const {
    auto settings = OpenSettings(section);
    if (settings) {
        QVariant value = settings->value(KeyName(name));
        if (value.typeId() == QMetaType::QString) {
            out = value.toString();
            return 1;
        }
        // A text with commas written by hand into the file reads back as a list: join it again.
        if (value.typeId() == QMetaType::QStringList) {
            out = value.toStringList().join(QLatin1Char(','));
            return 1;
        }
    }
    out = defaultText;
    return 0;
}

int SettingsStore::GetString(const char* name, WideString& out, const char16_t* defaultText,
                             const char* section) const {
    QString text;
    int found = GetString(name, text, ToQString(defaultText), section);
    out = ToWideString(text);
    return found;
}

int SettingsStore::SetString(const char* name, const QString& text, const char* section) {
    auto settings = OpenSettings(section);
    if (!settings)
        return 0;
    settings->setValue(KeyName(name), text);
    settings->sync();
    return settings->status() == QSettings::NoError ? 1 : 0;
}

int SettingsStore::SetString(const char* name, const WideString& text, const char* section) {
    return SetString(name, ToQString(text), section);
}

int SettingsStore::GetBinary(const char* name, QByteArray& out, const char* section) const {
    out.clear();
    auto settings = OpenSettings(section);
    if (!settings)
        return 0;
    QVariant value = settings->value(KeyName(name));
    if (value.typeId() != QMetaType::QByteArray)
        return 0;
    out = value.toByteArray();
    return 1;
}

int SettingsStore::SetBinary(const char* name, const QByteArray& bytes, const char* section) {
    auto settings = OpenSettings(section);
    if (!settings)
        return 0;
    settings->setValue(KeyName(name), bytes);
    settings->sync();
    return settings->status() == QSettings::NoError ? 1 : 0;
}

int SettingsStore::Remove(const char* name, const char* section) {
    auto settings = OpenSettings(section);
    if (!settings)
        return 0;
    settings->remove(KeyName(name));
    settings->sync();
    return settings->status() == QSettings::NoError ? 1 : 0;
}

} // namespace mistvale
