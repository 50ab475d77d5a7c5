#include "platform/xml_document.h"

#include <cstdio>
#include <memory>
#include <pugixml.hpp>
#include <vector>

namespace mistvale {

struct XmlDocument::Impl {
    std::unique_ptr<pugi::xml_document> doc;
    unsigned options = 0;
};

// Converts between XmlNode handles and pugixml objects.
struct XmlAccess {
    static XmlNode Make(pugi::xml_node node, pugi::xml_attribute attribute = pugi::xml_attribute()) {
        XmlNode handle;
        handle.node_ = node.internal_object();
        handle.attribute_ = attribute.internal_object();
        return handle;
    }
    static pugi::xml_node Node(const XmlNode& handle) {
        return pugi::xml_node(static_cast<pugi::xml_node_struct*>(handle.node_));
    }
    static pugi::xml_attribute Attribute(const XmlNode& handle) {
        return pugi::xml_attribute(static_cast<pugi::xml_attribute_struct*>(handle.attribute_));
    }
};

// Where a path walk stands: nothing yet (the document), a node, or an attribute of a node.
struct XmlCursor {
    bool set = false;
    pugi::xml_node node;
    pugi::xml_attribute attribute;
};

static const unsigned kParseOptions =
    pugi::parse_default | pugi::parse_comments | pugi::parse_pi | pugi::parse_doctype;
static const unsigned kSaveFlags = pugi::format_raw | pugi::format_no_declaration;

static char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

static bool NameMatches(const char* a, const std::string& b) {
    size_t i = 0;
    for (; a[i] != 0 && i < b.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    return a[i] == 0 && i == b.size();
}

static void AppendDescendantText(pugi::xml_node node, std::string& out) {
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        pugi::xml_node_type type = child.type();
        if (type == pugi::node_pcdata || type == pugi::node_cdata)
            out += child.value();
        else if (type == pugi::node_element)
            AppendDescendantText(child, out);
    }
}

// The DOM "text" of a node: an attribute's value, all text below an element, else the node's value.
static std::string NodeText(pugi::xml_node node, pugi::xml_attribute attribute) {
    if (attribute)
        return attribute.value();
    if (node.type() == pugi::node_element || node.type() == pugi::node_document) {
        std::string text;
        AppendDescendantText(node, text);
        return text;
    }
    return node.value();
}

// The DOM node name: elements and processing instructions by their name, other nodes by their kind.
static std::string NodeName(pugi::xml_node node) {
    switch (node.type()) {
    case pugi::node_element:
    case pugi::node_pi:
        return node.name();
    case pugi::node_pcdata:
        return "#text";
    case pugi::node_cdata:
        return "#cdata-section";
    case pugi::node_comment:
        return "#comment";
    case pugi::node_document:
        return "#document";
    case pugi::node_declaration:
        return "xml";
    case pugi::node_doctype: {
        // The DOCTYPE's name is the first word of its content.
        std::string content = node.value();
        size_t end = content.find_first_of(" \t\r\n[");
        return content.substr(0, end);
    }
    default:
        return "";
    }
}

static bool IsXmlNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

static bool IsXmlName(const std::string& name) {
    if (name.empty() || !IsXmlNameStart(static_cast<unsigned char>(name[0])))
        return false;
    for (unsigned char c : name)
        if (!IsXmlNameStart(c) && !(c >= '0' && c <= '9') && c != '-' && c != '.')
            return false;
    return true;
}

static std::string Utf8Of(const char16_t* text) {
    if (text == nullptr)
        return std::string();
    WideString copy(text);
    return copy.ToUtf8();
}

// Splits a backslash path into its names; leading, trailing and repeated separators give no names.
static std::vector<std::string> SplitPath(const char16_t* path) {
    std::vector<std::string> names;
    if (path == nullptr)
        return names;
    WideString copy(path);
    for (const char16_t* name = copy.Tokenize(true, u"\\"); name != nullptr;
         name = copy.Tokenize(false, u"\\")) {
        WideString piece(name);
        names.push_back(piece.ToUtf8());
    }
    return names;
}

// One step of every path operation: finds name (nullptr: none) under the cursor, calling the visitor
// for every node passed on the way. See the header for the order: the root element at the top, else
// "#text", then attributes, then child nodes.
static int FindChild(XmlDocument& document, pugi::xml_document& doc, const std::string* name,
                     XmlEnumCallback visitor, void* context, WideString* out, bool wantValue,
                     XmlCursor& cursor) {
    if (!cursor.set) {
        pugi::xml_node root = doc.document_element();
        cursor.set = true;
        cursor.node = root;
        cursor.attribute = pugi::xml_attribute();
        if (!root) {
            if (out != nullptr)
                out->Clear();
            return 0;
        }
        int matched = name != nullptr && NameMatches(root.name(), *name) ? 1 : 0;
        if (matched && out != nullptr) {
            if (wantValue)
                out->AssignUtf8(NodeText(root, pugi::xml_attribute()));
            else
                out->Clear();
        }
        int result = matched;
        if (visitor != nullptr) {
            WideString nodeName = WideString::FromUtf8(root.name());
            WideString value = WideString::FromUtf8(NodeText(root, pugi::xml_attribute()).c_str());
            result = visitor(0, XmlAccess::Make(root), nodeName, value, context, document);
        }
        if (result == 0 && out != nullptr)
            out->Clear();
        return result;
    }
    if (name != nullptr && *name == "#text") {
        if (out != nullptr)
            out->AssignUtf8(NodeText(cursor.node, cursor.attribute));
        return 1;
    }
    int result = 0;
    if (!cursor.attribute && cursor.node.type() == pugi::node_element) {
        for (pugi::xml_attribute attribute = cursor.node.first_attribute(); attribute;
             attribute = attribute.next_attribute()) {
            if (name != nullptr && NameMatches(attribute.name(), *name)) {
                if (out != nullptr)
                    out->AssignUtf8(attribute.value());
                cursor.attribute = attribute;
                return 1;
            }
            if (visitor != nullptr) {
                WideString attributeName = WideString::FromUtf8(attribute.name());
                WideString value = WideString::FromUtf8(attribute.value());
                result = visitor(1, XmlAccess::Make(cursor.node, attribute), attributeName, value, context,
                                 document);
                if (result == 1)
                    return 1;
            }
        }
        for (pugi::xml_node child = cursor.node.first_child(); child; child = child.next_sibling()) {
            std::string childName = NodeName(child);
            if (name != nullptr && NameMatches(childName.c_str(), *name)) {
                if (out != nullptr) {
                    if (wantValue)
                        out->AssignUtf8(NodeText(child, pugi::xml_attribute()));
                    else
                        out->Clear();
                }
                cursor.node = child;
                return 1;
            }
            if (visitor != nullptr) {
                WideString nodeName = WideString::FromUtf8(childName.c_str());
                WideString value = WideString::FromUtf8(NodeText(child, pugi::xml_attribute()).c_str());
                result = visitor(0, XmlAccess::Make(child), nodeName, value, context, document);
                if (result == 1)
                    return 1;
            }
        }
    }
    if (result == 0 && out != nullptr)
        out->Clear();
    return result;
}

static XmlCursor CursorAt(const XmlNode& start) {
    XmlCursor cursor;
    if (!start.IsNull()) {
        cursor.set = true;
        cursor.node = XmlAccess::Node(start);
        cursor.attribute = XmlAccess::Attribute(start);
    }
    return cursor;
}

XmlDocument::XmlDocument() = default;

XmlDocument::~XmlDocument() {
    Close();
}

int XmlDocument::Open(unsigned options) {
    try {
        Close();
        impl_ = new Impl;
        impl_->doc = std::make_unique<pugi::xml_document>();
        impl_->options = options;
        return 1;
    } catch (...) {
        Close();
        return 0;
    }
}

void XmlDocument::Close() {
    delete impl_;
    impl_ = nullptr;
}

bool XmlDocument::IsOpen() const {
    return impl_ != nullptr;
}

// Takes a freshly parsed document if it parsed and its DOCTYPE, if any, is allowed.
static int Accept(std::unique_ptr<pugi::xml_document>& current, std::unique_ptr<pugi::xml_document>& parsed,
                  const pugi::xml_parse_result& result, unsigned options) {
    if (!result)
        return 0;
    for (pugi::xml_node child = parsed->first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_doctype && (options & XmlDocument::kAllowDtd) == 0)
            return 0;
    if (!parsed->document_element())
        return 0;
    current = std::move(parsed);
    return 1;
}

int XmlDocument::LoadFile(const WideString& path) {
    if (impl_ == nullptr)
        return 0;
    try {
        const char* file = path.ToAnsi();
        if (file == nullptr || *file == 0)
            return 0;
        auto parsed = std::make_unique<pugi::xml_document>();
        pugi::xml_parse_result result = parsed->load_file(file, kParseOptions, pugi::encoding_auto);
        return Accept(impl_->doc, parsed, result, impl_->options);
    } catch (...) {
        return 0;
    }
}

int XmlDocument::LoadText(const WideString& text) {
    if (impl_ == nullptr)
        return 0;
    try {
        // The text is already decoded, so an encoding named in its declaration does not apply.
        auto parsed = std::make_unique<pugi::xml_document>();
        pugi::xml_parse_result result =
            parsed->load_buffer(text.Text(), static_cast<size_t>(text.Length()) * sizeof(char16_t),
                                kParseOptions, pugi::encoding_utf16);
        return Accept(impl_->doc, parsed, result, impl_->options);
    } catch (...) {
        return 0;
    }
}

int XmlDocument::LoadBytes(const void* data, size_t size) {
    if (impl_ == nullptr || (data == nullptr && size != 0))
        return 0;
    try {
        auto parsed = std::make_unique<pugi::xml_document>();
        pugi::xml_parse_result result = parsed->load_buffer(data, size, kParseOptions, pugi::encoding_auto);
        return Accept(impl_->doc, parsed, result, impl_->options);
    } catch (...) {
        return 0;
    }
}

int XmlDocument::LoadText(const char16_t* text) {
    WideString copy(text);
    return LoadText(copy);
}

int XmlDocument::SaveToString(std::string& utf8) const {
    utf8.clear();
    if (impl_ == nullptr)
        return 0;
    try {
        struct StringWriter : pugi::xml_writer {
            std::string* out;
            void write(const void* data, size_t size) override {
                out->append(static_cast<const char*>(data), size);
            }
        } writer;
        writer.out = &utf8;
        impl_->doc->save(writer, "", kSaveFlags, pugi::encoding_utf8);
        return 1;
    } catch (...) {
        utf8.clear();
        return 0;
    }
}

int XmlDocument::SaveFile(const WideString& path) {
    std::string bytes;
    if (!SaveToString(bytes))
        return 0;
    const char* file = path.ToAnsi();
    if (file == nullptr || *file == 0)
        return 0;
    std::FILE* stream = std::fopen(file, "wb");
    if (stream == nullptr)
        return 0;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    ok = std::fflush(stream) == 0 && ok;
    ok = std::fclose(stream) == 0 && ok;
    return ok ? 1 : 0;
}

int XmlDocument::GetValue(const WideString& path, WideString& value, const XmlNode& start) {
    return GetValue(path.Text(), value, start);
}

int XmlDocument::GetValue(const char16_t* path, WideString& value, const XmlNode& start) {
    value.Clear();
    if (impl_ == nullptr)
        return 0;
    try {
        std::vector<std::string> names = SplitPath(path);
        XmlCursor cursor = CursorAt(start);
        for (size_t i = 0; i < names.size(); ++i) {
            if (!FindChild(*this, *impl_->doc, &names[i], nullptr, nullptr, &value, i + 1 == names.size(),
                           cursor)) {
                value.Clear();
                return 0;
            }
        }
        return names.empty() ? 0 : 1;
    } catch (...) {
        value.Clear();
        return 0;
    }
}

uint64_t XmlDocument::GetNumber(const char16_t* path, uint64_t fallback, const XmlNode& start) {
    WideString value;
    if (!GetValue(path, value, start))
        return fallback;
    const char16_t* p = value.Text();
    while (*p == u' ' || *p == u'\t' || *p == u'\r' || *p == u'\n' || *p == u'\v' || *p == u'\f')
        ++p;
    bool negative = false;
    if (*p == u'+' || *p == u'-') {
        negative = *p == u'-';
        ++p;
    }
    if (*p < u'0' || *p > u'9')
        return fallback;
    uint64_t number = 0;
    bool overflow = false;
    for (; *p >= u'0' && *p <= u'9'; ++p) {
        uint64_t digit = static_cast<uint64_t>(*p - u'0');
        if (number > (UINT64_MAX - digit) / 10)
            overflow = true;
        else
            number = number * 10 + digit;
    }
    if (overflow)
        return UINT64_MAX;
    // As the C library reads "%llu": a minus sign gives the two's complement.
    return negative ? static_cast<uint64_t>(0) - number : number;
}

int XmlDocument::Enumerate(const WideString& path, XmlEnumCallback visitor, void* context,
                           const XmlNode& start) {
    return Enumerate(path.Text(), visitor, context, start);
}

int XmlDocument::Enumerate(const char16_t* path, XmlEnumCallback visitor, void* context,
                           const XmlNode& start) {
    if (impl_ == nullptr || visitor == nullptr)
        return 0;
    try {
        std::vector<std::string> names = SplitPath(path);
        XmlCursor cursor = CursorAt(start);
        for (const std::string& name : names)
            if (!FindChild(*this, *impl_->doc, &name, nullptr, nullptr, nullptr, false, cursor))
                return 0;
        return FindChild(*this, *impl_->doc, nullptr, visitor, context, nullptr, false, cursor);
    } catch (...) {
        return 0;
    }
}

XmlNode XmlDocument::FindOrCreatePath(const char16_t* path, const XmlNode& start) {
    if (impl_ == nullptr)
        return XmlNode();
    try {
        std::vector<std::string> names = SplitPath(path);
        if (names.empty())
            return start;
        XmlCursor cursor = CursorAt(start);
        for (const std::string& name : names) {
            bool atTop = !cursor.set;
            XmlNode parent = atTop ? XmlNode() : XmlAccess::Make(cursor.node, cursor.attribute);
            if (FindChild(*this, *impl_->doc, &name, nullptr, nullptr, nullptr, false, cursor))
                continue;
            XmlNode created;
            WideString wideName = WideString::FromUtf8(name.c_str());
            if (!CreateElement(parent, wideName.Text(), nullptr, &created))
                return XmlNode();
            cursor.set = true;
            cursor.node = XmlAccess::Node(created);
            cursor.attribute = pugi::xml_attribute();
        }
        return XmlAccess::Make(cursor.node, cursor.attribute);
    } catch (...) {
        return XmlNode();
    }
}

int XmlDocument::CreateElement(const XmlNode& parent, const char16_t* name, const char16_t* text,
                               XmlNode* out) {
    if (out != nullptr)
        *out = XmlNode();
    if (impl_ == nullptr)
        return 0;
    try {
        std::string elementName = Utf8Of(name);
        if (!IsXmlName(elementName))
            return 0;
        pugi::xml_node target;
        if (parent.IsNull()) {
            // The document takes a single root element.
            if (impl_->doc->document_element())
                return 0;
            target = *impl_->doc;
        } else {
            if (parent.IsAttribute())
                return 0;
            target = XmlAccess::Node(parent);
            if (target.type() != pugi::node_element)
                return 0;
        }
        pugi::xml_node element = target.append_child(pugi::node_element);
        if (!element)
            return 0;
        if (!element.set_name(elementName.c_str())) {
            target.remove_child(element);
            return 0;
        }
        if (text != nullptr && *text != 0) {
            std::string content = Utf8Of(text);
            pugi::xml_node data = element.append_child(pugi::node_pcdata);
            if (!data || !data.set_value(content.c_str())) {
                target.remove_child(element);
                return 0;
            }
        }
        if (out != nullptr)
            *out = XmlAccess::Make(element);
        return 1;
    } catch (...) {
        return 0;
    }
}

int XmlDocument::SetAttribute(const XmlNode& element, const char16_t* name, const char16_t* value) {
    if (impl_ == nullptr || element.IsNull() || element.IsAttribute())
        return 0;
    try {
        pugi::xml_node node = XmlAccess::Node(element);
        if (node.type() != pugi::node_element)
            return 0;
        std::string attributeName = Utf8Of(name);
        if (!IsXmlName(attributeName))
            return 0;
        std::string content = Utf8Of(value);
        pugi::xml_attribute attribute = node.attribute(attributeName.c_str());
        if (!attribute)
            attribute = node.append_attribute(attributeName.c_str());
        if (!attribute || !attribute.set_value(content.c_str()))
            return 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

} // namespace mistvale
