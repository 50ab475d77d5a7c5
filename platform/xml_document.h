#pragma once
// XmlDocument: the program's one access to XML, over pugixml. Elements and attributes are addressed
// by backslash-separated name paths ("Mistvale\Groups") whose names match without regard to ASCII
// letter case; at each step an attribute of that name is found before a child of that name. The
// attributes and child nodes of an element are walked with a plain visitor function.
//
// Calling order: construct, Open, then LoadFile or LoadText followed by lookups, or creation calls
// followed by SaveFile / SaveToString; Close (the destructor closes as well). One document is used by
// one thread at a time; nothing is locked.
//
// Saving: the output is UTF-8 without an XML declaration and without indentation or any whitespace
// added between elements. SaveFile(path) writes exactly that path in place (not atomically). A caller
// that needs an atomic replace takes SaveToString and writes a temporary file, fsyncs and renames it.
//
// Safety: entities other than the five predefined ones and character references are never expanded
// and nothing external is ever fetched. A document with a DOCTYPE is refused unless Open was given
// kAllowDtd; with it the DOCTYPE is accepted but its entity declarations are ignored.

#include <cstdint>
#include <string>

#include "platform/wide_string.h"

namespace mistvale {

class XmlDocument;

// A small value handle of one node of a document: an element, an attribute, a text node, a comment,
// a processing instruction, ... The null handle ("none") means the document itself where a start or
// parent node is taken. A handle stays valid as long as its document is open and holds the same
// content; it needs no release.
class XmlNode {
public:
    XmlNode() = default;
    bool IsNull() const { return node_ == nullptr && attribute_ == nullptr; }
    explicit operator bool() const { return !IsNull(); }
    bool IsAttribute() const { return attribute_ != nullptr; }
    bool operator==(const XmlNode& other) const {
        return node_ == other.node_ && attribute_ == other.attribute_;
    }

private:
    friend class XmlDocument;
    friend struct XmlAccess;
    // Opaque pugixml internals: the node (for an attribute: its element) and the attribute or nullptr.
    void* node_ = nullptr;
    void* attribute_ = nullptr;
};

// Visitor of Enumerate: isAttribute is 1 for an attribute and 0 for a child node; name is the DOM node
// name ("#text", "#cdata-section", "#comment", a processing instruction's target, an element's or
// attribute's name); value is the node's text (for an element the text of all its descendants). The
// node is lent for the call. Returning 1 stops the enumeration; any other value lets it go on.
typedef int (*XmlEnumCallback)(int isAttribute, const XmlNode& node, const WideString& name,
                               const WideString& value, void* context, XmlDocument& document);

class XmlDocument {
public:
    // Option bits of Open; the program passes kNoValidation | kNoExternals (3). pugixml never
    // validates and never fetches anything external, so bits 1 and 2 are always in effect.
    static constexpr unsigned kNoValidation = 1;
    static constexpr unsigned kNoExternals = 2;
    // Accept documents with a DOCTYPE (its entities are still never expanded).
    static constexpr unsigned kAllowDtd = 4;

    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Creates a new empty document (an open one is released first). 1 on success.
    int Open(unsigned options = kNoValidation | kNoExternals);
    // Releases the document; every later operation returns 0 / none until the next Open.
    void Close();
    bool IsOpen() const;

    // Parses a file (encoding from its byte-order mark or declaration, UTF-8 by default). The path is
    // converted to UTF-8, so any Unicode file name works. 1 when parsed; on failure the document is
    // left as it was.
    int LoadFile(const WideString& path);
    // Parses a whole document given as text. 1 when parsed; on failure the document is left as it was.
    int LoadText(const WideString& text);
    int LoadText(const char16_t* text);
    // Parses a whole document given as its bytes, decoded as a file would be (byte-order mark or
    // declaration, UTF-8 by default). 1 when parsed; on failure the document is left as it was.
    int LoadBytes(const void* data, size_t size);
    // Writes the document to exactly this path (created or truncated). 1 when every byte was written.
    int SaveFile(const WideString& path);
    // The bytes SaveFile would write. 1 on success.
    int SaveToString(std::string& utf8) const;

    // 1 when every name of path was found; value then holds the value of the last node found.
    // 0 otherwise, with value set to "". The path is not changed.
    int GetValue(const WideString& path, WideString& value, const XmlNode& start = XmlNode());
    int GetValue(const char16_t* path, WideString& value, const XmlNode& start = XmlNode());
    // The value at path read as an unsigned 64-bit decimal number (leading blanks and digits; what
    // follows the digits is ignored; too large saturates), or fallback when the path is missing or the
    // value does not start with a number.
    uint64_t GetNumber(const char16_t* path, uint64_t fallback, const XmlNode& start = XmlNode());
    // Walks path from start and calls the visitor for every attribute and then every child node of
    // the node reached. An empty path visits start's attributes and children; with neither a path nor
    // a start node the visitor is called once, for the root element. Returns the visitor's last
    // result; 0 when the path is not found or nothing was visited.
    int Enumerate(const WideString& path, XmlEnumCallback visitor, void* context,
                  const XmlNode& start = XmlNode());
    int Enumerate(const char16_t* path, XmlEnumCallback visitor, void* context,
                  const XmlNode& start = XmlNode());
    // The node at the end of path, creating every missing element on the way; none on failure (for
    // example when the document's root element has another name than the path's first name).
    XmlNode FindOrCreatePath(const char16_t* path, const XmlNode& start = XmlNode());
    // Appends a new element to parent (none: the document, which takes one root element). text, when
    // given, becomes its text content. out, when given, receives the new element. 1 on success.
    int CreateElement(const XmlNode& parent, const char16_t* name, const char16_t* text = nullptr,
                      XmlNode* out = nullptr);
    // Sets an attribute of an element, replacing one of the same name (exact spelling). 1 on success.
    int SetAttribute(const XmlNode& element, const char16_t* name, const char16_t* value);

private:
    struct Impl;
    Impl* impl_ = nullptr;
};

} // namespace mistvale
