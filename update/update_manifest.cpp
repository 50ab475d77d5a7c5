#include "update/update_manifest.h"

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
    return ManifestResult::Ok;
}

} // namespace mistvale
