#include "update/update_manifest.h"

#include <cstdio>

#include "platform/xml_document.h"

namespace mistvale {

namespace {

bool LocalizedValue(XmlDocument& document, const char16_t* path, const WideString& language,
                    WideString& out) {
    if (!language.IsEmpty()) {
        WideString localized(path);
        localized.AppendChar(u'\\');
        localized.Append(language);
        if (document.GetValue(localized, out))
            return true;
    }
    WideString english(path);
    english.Append(u"\\en");
    return document.GetValue(english, out) != 0;
}

struct FileWalk {
    UpdateManifest* manifest;
};

int VisitFile(int isAttribute, const XmlNode& node, const WideString& name, const WideString& value,
              void* context, XmlDocument& document) {
    auto* walk = static_cast<FileWalk*>(context);
    if (isAttribute || name.CompareNoCase(u"url") != 0)
        return 0;
    UpdateFileEntry entry;
    entry.url = value;
    document.GetValue(u"name", entry.name, node);
    document.GetValue(u"zip", entry.zip, node);
    document.GetValue(u"signature", entry.signature, node);
    WideString size;
    if (document.GetValue(u"size", size, node)) {
        const std::string digits = size.ToUtf8();
        long long bytes = 0;
        bool valid = !digits.empty() && digits.size() < 19;
        for (char c : digits) {
            valid = valid && c >= '0' && c <= '9';
            bytes = bytes * 10 + (c - '0');
        }
        entry.size = valid ? bytes : 0; // an unreadable size admits nothing
    }
    walk->manifest->files.push_back(entry);
    return 0;
}

// "YYYY-MM-DDTHH:MM:SSZ" as seconds since 1970; 0 for anything else.
long long ParseUtcTime(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char zone = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &year, &month, &day, &hour, &minute, &second,
                    &zone) != 7 ||
        zone != 'Z' || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 60)
        return 0;
    // Days from 1970-01-01 to the date (proleptic Gregorian calendar).
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long days = static_cast<long long>(era) * 146097 + doe - 719468;
    return days * 86400 + hour * 3600LL + minute * 60LL + second;
}

} // namespace

bool IsPlainFileName(const WideString& name) {
    const int length = name.Length();
    if (length == 0 || name.Text()[0] == u'.')
        return false;
    for (int i = 0; i < length; ++i) {
        const char16_t c = name.Text()[i];
        if (c == u'/' || c == u'\\' || c < 0x20 || c == 0x7F)
            return false;
        if (c == u'.' && i + 1 < length && name.Text()[i + 1] == u'.')
            return false;
    }
    return true;
}

ManifestResult ParseUpdateManifest(const std::string& bytes, const WideString& language,
                                   UpdateManifest& out) {
    out = UpdateManifest();
    XmlDocument document;
    if (!document.Open() || !document.LoadBytes(bytes.data(), bytes.size()))
        return ManifestResult::NotXml;
    document.GetValue(u"update\\application", out.caption);
    if (!LocalizedValue(document, u"update\\info", language, out.info))
        return ManifestResult::NoInfo;
    document.GetValue(u"update\\help", out.help);
    // Help opens in the desktop's handler: only a web address over TLS, nothing local.
    if (out.help.ToUtf8().rfind("https://", 0) != 0)
        out.help = WideString();
    WideString expires;
    if (document.GetValue(u"update\\expires", expires))
        out.expires = ParseUtcTime(expires.ToUtf8());
    if (!document.GetValue(u"update\\version", out.versionText) ||
        !ParseUpdateVersion(out.versionText, out.version))
        return ManifestResult::NoVersion;
    FileWalk walk{&out};
    document.Enumerate(u"update\\files", &VisitFile, &walk);
    document.GetValue(u"update\\files\\execute", out.execute);
    out.hasRestart = LocalizedValue(document, u"update\\restart", language, out.restart);
    for (const UpdateFileEntry& entry : out.files)
        if ((!entry.name.IsEmpty() && !IsPlainFileName(entry.name)) ||
            (!entry.zip.IsEmpty() && !IsPlainFileName(entry.zip)))
            return ManifestResult::UnsafeName;
    if (!out.execute.IsEmpty() && !IsPlainFileName(out.execute))
        return ManifestResult::UnsafeName;
    for (const UpdateFileEntry& entry : out.files)
        if (entry.size < 0)
            return ManifestResult::NoSize;
    return ManifestResult::Ok;
}

} // namespace mistvale
