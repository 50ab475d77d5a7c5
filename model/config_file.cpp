#include "model/config_file.h"

#include "model/file_replace.h"
#include "model/group.h"
#include "model/locked_list.h"
#include "model/source.h"
#include "platform/xml_document.h"

#include <filesystem>
#include <new>

namespace mistvale {

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

int SourceVisitor(int isAttribute, const XmlNode& node, const WideString& name, const WideString&,
                  void* context, XmlDocument& document) {
    if (isAttribute || name.CompareNoCase(u"Source") != 0)
        return 0;
    Group* group = static_cast<Group*>(context);
    Source* source = new (std::nothrow) Source();
    if (source == nullptr)
        return 0;
    ReadFields(document, node, *source);
    source->SetGroup(group);
    group->Sources().Append(source);
    return 0;
}

int GroupVisitor(int isAttribute, const XmlNode& node, const WideString& name, const WideString&,
                 void* context, XmlDocument& document) {
    if (isAttribute || name.CompareNoCase(u"Group") != 0)
        return 0;
    LockedList* groups = static_cast<LockedList*>(context);
    Group* group = new (std::nothrow) Group();
    if (group == nullptr)
        return 0;
    ReadFields(document, node, *group);
    document.Enumerate(u"Sources", &SourceVisitor, group, node);
    // Appended only once complete, so nobody sees a group whose sources are still being read.
    groups->Append(group);
    return 0;
}

int AddRecordElement(XmlDocument& document, const XmlNode& parent, const char16_t* elementName,
                     const Record& record, XmlNode* out) {
    XmlNode element;
    if (!document.CreateElement(parent, elementName, nullptr, &element))
        return 0;
    WideString name = record.Name();
    WideString parameter = record.Parameter();
    document.SetAttribute(element, u"Name", name.Text());
    document.SetAttribute(element, u"Parameter", parameter.Text());
    if (out != nullptr)
        *out = element;
    return 1;
}

} // namespace

int LoadConfigFile(const std::string& path, LockedList& groups) {
    XmlDocument document;
    if (!document.Open(kOpenOptions) || !document.LoadFile(WideString::FromUtf8(path.c_str()))) {
        // A link that leads nowhere holds no tree: its target is created by the first save.
        std::error_code error;
        return std::filesystem::exists(path, error) || (error && PathExists(path)) ? kConfigUnreadable
                                                                                   : kConfigMissing;
    }
    WideString rootValue;
    if (!document.GetValue(u"Mistvale", rootValue))
        return kConfigUnreadable; // well-formed, but not a tree of ours: keep it, do not replace it
    document.Enumerate(u"Mistvale\\Groups", &GroupVisitor, &groups);
    document.Close();
    return kConfigLoaded;
}

int SaveConfigFile(const std::string& path, LockedList& groups) {
    XmlDocument document;
    if (!document.Open(kOpenOptions))
        return 0;
    XmlNode root;
    if (!document.CreateElement(XmlNode(), u"Mistvale", nullptr, &root))
        return 0;
    XmlNode groupsElement;
    if (document.CreateElement(root, u"Groups", nullptr, &groupsElement)) {
        // The worker may still run a job meanwhile; the shared locks keep the lists stable.
        SharedLock groupsLock(groups);
        for (ListItem* groupItem = groups.First(); groupItem != nullptr; groupItem = groupItem->Next()) {
            Group* group = static_cast<Group*>(groupItem);
            XmlNode groupElement;
            if (!AddRecordElement(document, groupsElement, u"Group", *group, &groupElement))
                continue;
            XmlNode sourcesElement;
            if (!document.CreateElement(groupElement, u"Sources", nullptr, &sourcesElement))
                continue;
            LockedList& sources = group->Sources();
            SharedLock sourcesLock(sources);
            for (ListItem* sourceItem = sources.First(); sourceItem != nullptr;
                 sourceItem = sourceItem->Next()) {
                AddRecordElement(document, sourcesElement, u"Source", *static_cast<Source*>(sourceItem),
                                 nullptr);
            }
        }
    }
    std::string bytes;
    if (!document.SaveToString(bytes))
        return 0;
    document.Close();
    return ReplaceFileAtomically(path, bytes);
}

int KeepUnreadableConfig(const std::string& path, std::string* keptAs) {
    return KeepCopyBeside(path, ".bad", keptAs);
}

} // namespace mistvale
