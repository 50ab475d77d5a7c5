#include "model/config_file.h"

#include "model/file_replace.h"
#include "model/group.h"
#include "model/locked_list.h"
#include "model/source.h"
#include "platform/xml_document.h"

#include <filesystem>
#include <new>

namespace {

constexpr unsigned kOpenOptions = XmlDocument::kNoValidation | XmlDocument::kNoExternals;

// Name and Parameter of a Group or Source element, as attributes or child elements; a missing one
// gives an empty text.
void ReadFields(XmlDocument& document, const XmlNode& element, Record& record) {
    WideString name;
    WideString parameter;
    document.GetValue(u"Name", name, element);
    document.GetValue(u"Parameter", parameter, element);
    record.SetNameAndParameter(name, parameter);
}

int SourceVisitor(int is_attribute, const XmlNode& node, const WideString& name, const WideString&,
                  void* context, XmlDocument& document) {
    if (is_attribute || name.CompareNoCase(u"Source") != 0) {
        return 0;
    }
    Group* group = static_cast<Group*>(context);
    Source* source = new (std::nothrow) Source();
    if (source == nullptr) {
        return 0;
    }
    ReadFields(document, node, *source);
    source->SetGroup(group);
    group->Sources().Append(source);
    return 0;
}

int GroupVisitor(int is_attribute, const XmlNode& node, const WideString& name, const WideString&,
                 void* context, XmlDocument& document) {
    if (is_attribute || name.CompareNoCase(u"Group") != 0) {
        return 0;
    }
    LockedList* groups = static_cast<LockedList*>(context);
    Group* group = new (std::nothrow) Group();
    if (group == nullptr) {
        return 0;
    }
    ReadFields(document, node, *group);
    document.Enumerate(u"Sources", &SourceVisitor, group, node);
    // Appended only once complete, so nobody sees a group whose sources are still being read.
    groups->Append(group);
    return 0;
}

int AddRecordElement(XmlDocument& document, const XmlNode& parent, const char16_t* element_name,
                     const Record& record, XmlNode* out) {
    XmlNode element;
    if (!document.CreateElement(parent, element_name, nullptr, &element)) {
        return 0;
    }
    WideString name = record.Name();
    WideString parameter = record.Parameter();
    document.SetAttribute(element, u"Name", name.Text());
    document.SetAttribute(element, u"Parameter", parameter.Text());
    if (out != nullptr) {
        *out = element;
    }
    return 1;
}

} // namespace

int LoadConfigFile(const std::string& path, LockedList& groups) {
    XmlDocument document;
    if (!document.Open(kOpenOptions) || !document.LoadFile(WideString::FromUtf8(path.c_str()))) {
        // A link that leads nowhere holds no tree: its target is created by the first save.
        std::error_code error;
        return std::filesystem::exists(path, error) || (error && PathExists(path)) ? CONFIG_UNREADABLE
                                                                                   : CONFIG_MISSING;
    }
    WideString root_value;
    if (!document.GetValue(u"Mistvale", root_value)) {
        return CONFIG_UNREADABLE; // well-formed, but not a tree of ours: keep it, do not replace it
    }
    document.Enumerate(u"Mistvale\\Groups", &GroupVisitor, &groups);
    document.Close();
    return CONFIG_LOADED;
}

int SaveConfigFile(const std::string& path, LockedList& groups) {
    XmlDocument document;
    if (!document.Open(kOpenOptions)) {
        return 0;
    }
    XmlNode root;
    if (!document.CreateElement(XmlNode(), u"Mistvale", nullptr, &root)) {
        return 0;
    }
    XmlNode groups_element;
    if (document.CreateElement(root, u"Groups", nullptr, &groups_element)) {
        // The worker may still run a job meanwhile; the shared locks keep the lists stable.
        SharedLock groups_lock(groups);
        for (ListItem* group_item = groups.First(); group_item != nullptr; group_item = group_item->Next()) {
            Group* group = static_cast<Group*>(group_item);
            XmlNode group_element;
            if (!AddRecordElement(document, groups_element, u"Group", *group, &group_element)) {
                continue;
            }
            XmlNode sources_element;
            if (!document.CreateElement(group_element, u"Sources", nullptr, &sources_element)) {
                continue;
            }
            LockedList& sources = group->Sources();
            SharedLock sources_lock(sources);
            for (ListItem* source_item = sources.First(); source_item != nullptr;
                 source_item = source_item->Next()) {
                AddRecordElement(document, sources_element, u"Source", *static_cast<Source*>(source_item),
                                 nullptr);
            }
        }
    }
    std::string bytes;
    if (!document.SaveToString(bytes)) {
        return 0;
    }
    document.Close();
    return ReplaceFileAtomically(path, bytes);
}

int KeepUnreadableConfig(const std::string& path, std::string* kept_as) {
    return KeepCopyBeside(path, ".bad", kept_as);
}
