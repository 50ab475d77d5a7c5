#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/xml_document.h"

namespace mistvale {

static std::u16string Str(const WideString& s) {
    return std::u16string(s.View());
}

// A private temporary folder, removed with everything in it at the end of the test.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "mv_xml_XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    std::filesystem::path File(const char* utf8Name) const {
        return path_ / std::filesystem::u8path(utf8Name);
    }

private:
    std::filesystem::path path_;
};

static WideString PathText(const std::filesystem::path& path) {
    return WideString::FromUtf8(path.string().c_str());
}

static std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

struct Visit {
    int isAttribute;
    std::u16string name;
    std::u16string value;
};

struct VisitLog {
    std::vector<Visit> visits;
    int stopAfter = -1;
};

static int RecordVisit(int isAttribute, const XmlNode& node, const WideString& name, const WideString& value,
                       void* context, XmlDocument&) {
    VisitLog* log = static_cast<VisitLog*>(context);
    EXPECT_FALSE(node.IsNull());
    EXPECT_EQ(node.IsAttribute(), isAttribute == 1);
    log->visits.push_back({isAttribute, Str(name), Str(value)});
    return static_cast<int>(log->visits.size()) == log->stopAfter ? 1 : 0;
}

// Keeps the first child element named "Group" that is visited.
static int FindGroup(int isAttribute, const XmlNode& node, const WideString& name, const WideString&,
                     void* context, XmlDocument&) {
    if (isAttribute == 0 && name.CompareNoCase(u"Group") == 0) {
        *static_cast<XmlNode*>(context) = node;
        return 1;
    }
    return 0;
}

static const char16_t* kConfig = u"<Mistvale><Groups>"
                                 u"<Group Name=\"attribute\" Parameter=\"Clock\"><Name>child</Name>"
                                 u"<Sources><Source Name=\"Time\" Parameter=\"Time\"/></Sources></Group>"
                                 u"</Groups></Mistvale>";

TEST(XmlDocumentLookup, PathNamesMatchWithoutCaseAndAttributesComeFirst) {
    XmlDocument doc;
    ASSERT_EQ(doc.Open(), 1);
    ASSERT_EQ(doc.LoadText(kConfig), 1);
    XmlNode group;
    ASSERT_EQ(doc.Enumerate(u"mistvale\\GROUPS", FindGroup, &group), 1);
    ASSERT_FALSE(group.IsNull());
    WideString value;
    for (const char16_t* spelling : {u"Name", u"name", u"NAME"}) {
        ASSERT_EQ(doc.GetValue(spelling, value, group), 1);
        EXPECT_EQ(Str(value), u"attribute");
    }
    ASSERT_EQ(doc.GetValue(u"sources\\source\\parameter", value, group), 1);
    EXPECT_EQ(Str(value), u"Time");
    ASSERT_EQ(doc.GetValue(u"Name\\#text", value, group), 1);
    EXPECT_EQ(Str(value), u"attribute");
    // An element's value is the text of all its descendants.
    ASSERT_EQ(doc.GetValue(u"Mistvale\\Groups", value), 1);
    EXPECT_EQ(Str(value), u"child");
}

TEST(XmlDocumentLookup, MissingLastNameClearsTheValue) {
    XmlDocument doc;
    doc.Open();
    ASSERT_EQ(doc.LoadText(kConfig), 1);
    WideString value(u"left over");
    EXPECT_EQ(doc.GetValue(u"Mistvale\\Groups\\Missing", value), 0);
    EXPECT_TRUE(value.IsEmpty());
    value.Assign(u"left over");
    EXPECT_EQ(doc.GetValue(u"Other\\Groups", value), 0);
    EXPECT_TRUE(value.IsEmpty());
    value.Assign(u"left over");
    EXPECT_EQ(doc.GetValue(u"", value), 0);
    EXPECT_TRUE(value.IsEmpty());
}

TEST(XmlDocumentLookup, ExtraSeparatorsAddressTheSameNode) {
    XmlDocument doc;
    doc.Open();
    ASSERT_EQ(doc.LoadText(kConfig), 1);
    WideString plain;
    WideString odd;
    ASSERT_EQ(doc.GetValue(u"Mistvale\\Groups\\Group\\Parameter", plain), 1);
    ASSERT_EQ(doc.GetValue(u"\\\\Mistvale\\\\Groups\\Group\\\\Parameter\\", odd), 1);
    EXPECT_EQ(Str(plain), u"Clock");
    EXPECT_EQ(Str(odd), u"Clock");
    WideString path(u"Mistvale\\Groups");
    ASSERT_EQ(doc.GetValue(path, plain), 1);
    EXPECT_EQ(Str(path), u"Mistvale\\Groups");
}

TEST(XmlDocumentLookup, GetNumberReadsLeadingDigits) {
    XmlDocument doc;
    doc.Open();
    ASSERT_EQ(doc.LoadText(u"<s a=\"123abc\" b=\"abc\" c=\" 42\" d=\"-1\" e=\"99999999999999999999999\"/>"),
              1);
    EXPECT_EQ(doc.GetNumber(u"s\\a", 5), 123u);
    EXPECT_EQ(doc.GetNumber(u"s\\b", 5), 5u);
    EXPECT_EQ(doc.GetNumber(u"s\\missing", 5), 5u);
    EXPECT_EQ(doc.GetNumber(u"s\\c", 5), 42u);
    EXPECT_EQ(doc.GetNumber(u"s\\d", 5), UINT64_MAX);
    EXPECT_EQ(doc.GetNumber(u"s\\e", 5), UINT64_MAX);
}

TEST(XmlDocumentEnumerate, AttributesFirstThenEveryChildWithItsDomName) {
    XmlDocument doc;
    doc.Open();
    ASSERT_EQ(doc.LoadText(u"<r b=\"2\" a=\"1\">text<!--note--><?target data?><![CDATA[raw<>]]>"
                           u"<e x=\"y\">in<f>ner</f></e></r>"),
              1);
    VisitLog log;
    EXPECT_EQ(doc.Enumerate(u"R", RecordVisit, &log), 0);
    ASSERT_EQ(log.visits.size(), 7u);
    std::vector<std::u16string> names;
    for (const Visit& v : log.visits)
        names.push_back(v.name);
    std::vector<std::u16string> expected = {u"b", u"a", u"#text", u"#comment", u"target", u"#cdata-section",
                                            u"e"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(log.visits[0].isAttribute, 1);
    EXPECT_EQ(log.visits[1].isAttribute, 1);
    EXPECT_EQ(log.visits[2].isAttribute, 0);
    EXPECT_EQ(log.visits[0].value, u"2");
    EXPECT_EQ(log.visits[2].value, u"text");
    EXPECT_EQ(log.visits[3].value, u"note");
    EXPECT_EQ(log.visits[4].value, u"data");
    EXPECT_EQ(log.visits[5].value, u"raw<>");
    EXPECT_EQ(log.visits[6].value, u"inner");
}

TEST(XmlDocumentEnumerate, StopsWhenTheVisitorSaysSo) {
    XmlDocument doc;
    doc.Open();
    ASSERT_EQ(doc.LoadText(u"<r a=\"1\" b=\"2\"><c/><d/></r>"), 1);
    VisitLog log;
    log.stopAfter = 3;
    EXPECT_EQ(doc.Enumerate(u"r", RecordVisit, &log), 1);
    EXPECT_EQ(log.visits.size(), 3u);
    EXPECT_EQ(log.visits.back().name, u"c");
}

TEST(XmlDocumentEnumerate, WrongRootEmptyPathAndNothingToVisit) {
    XmlDocument doc;
    doc.Open();
    ASSERT_EQ(doc.LoadText(u"<Other><Groups><Group/></Groups></Other>"), 1);
    VisitLog log;
    EXPECT_EQ(doc.Enumerate(u"Mistvale\\Groups", RecordVisit, &log), 0);
    EXPECT_TRUE(log.visits.empty());
    // Neither path nor start node: the visitor sees the root element once.
    EXPECT_EQ(doc.Enumerate(u"", RecordVisit, &log), 0);
    ASSERT_EQ(log.visits.size(), 1u);
    EXPECT_EQ(log.visits[0].name, u"Other");
    log.visits.clear();
    EXPECT_EQ(doc.Enumerate(u"Other\\Groups\\Group", RecordVisit, &log), 0);
    EXPECT_TRUE(log.visits.empty());
}

TEST(XmlDocumentBuild, FindOrCreateCreateElementAndSetAttribute) {
    XmlDocument doc;
    ASSERT_EQ(doc.Open(), 1);
    XmlNode groups = doc.FindOrCreatePath(u"Mistvale\\Groups");
    ASSERT_FALSE(groups.IsNull());
    EXPECT_EQ(doc.FindOrCreatePath(u"mistvale\\groups"), groups);
    XmlNode group;
    ASSERT_EQ(doc.CreateElement(groups, u"Group", nullptr, &group), 1);
    EXPECT_EQ(doc.SetAttribute(group, u"Name", u"first"), 1);
    EXPECT_EQ(doc.SetAttribute(group, u"Parameter", u"Clock"), 1);
    EXPECT_EQ(doc.SetAttribute(group, u"Name", u"second"), 1);
    WideString value;
    ASSERT_EQ(doc.GetValue(u"Name", value, group), 1);
    EXPECT_EQ(Str(value), u"second");
    EXPECT_EQ(doc.CreateElement(group, u"Note", u"hello"), 1);
    std::string bytes;
    ASSERT_EQ(doc.SaveToString(bytes), 1);
    EXPECT_EQ(bytes, "<Mistvale><Groups><Group Name=\"second\" Parameter=\"Clock\"><Note>hello</Note></Group>"
                     "</Groups></Mistvale>");
    // A second root element, an invalid name and a non-element parent are refused.
    EXPECT_EQ(doc.CreateElement(XmlNode(), u"Another"), 0);
    EXPECT_TRUE(doc.FindOrCreatePath(u"Other\\Groups").IsNull());
    EXPECT_EQ(doc.CreateElement(groups, u"bad name"), 0);
    EXPECT_EQ(doc.CreateElement(groups, u""), 0);
    EXPECT_EQ(doc.SetAttribute(group, u"1x", u"v"), 0);
    XmlNode nameAttribute = doc.FindOrCreatePath(u"Name", group);
    ASSERT_TRUE(nameAttribute.IsAttribute());
    EXPECT_EQ(doc.CreateElement(nameAttribute, u"Child"), 0);
    EXPECT_EQ(doc.SetAttribute(XmlNode(), u"Name", u"x"), 0);
}

TEST(XmlDocumentFiles, SavedBytesHaveNoDeclarationNoIndentationAndEscapes) {
    TempFolder folder;
    XmlDocument doc;
    doc.Open();
    XmlNode groups = doc.FindOrCreatePath(u"Mistvale\\Groups");
    XmlNode group;
    ASSERT_EQ(doc.CreateElement(groups, u"Group", nullptr, &group), 1);
    doc.SetAttribute(group, u"Name", u"Pump <1> & \"x\"");
    doc.SetAttribute(group, u"Parameter", u"ModbusTcpIp/127.0.0.1/502");
    std::filesystem::path file = folder.File("Mistvale.xml");
    ASSERT_EQ(doc.SaveFile(PathText(file)), 1);
    EXPECT_EQ(ReadBytes(file), "<Mistvale><Groups><Group Name=\"Pump &lt;1> &amp; &quot;x&quot;\" "
                               "Parameter=\"ModbusTcpIp/127.0.0.1/502\"/></Groups></Mistvale>");
    EXPECT_EQ(doc.SaveFile(PathText(folder.File("missing/dir/x.xml"))), 0);
}

TEST(XmlDocumentFiles, NonAsciiTextAndFileNamesRoundTrip) {
    TempFolder folder;
    const char16_t* name = u"Gr\u00F6\u00DFe \u20AC \U0001F600 \u0141\u00F3d\u017A";
    const char16_t* awkward = u"tab\tline\nreturn\r\x01 end";
    std::filesystem::path file = folder.File("K\xC3\xBChlraum \xE2\x82\xAC.xml");
    {
        XmlDocument doc;
        doc.Open();
        XmlNode group;
        doc.CreateElement(doc.FindOrCreatePath(u"Mistvale\\Groups"), u"Group", nullptr, &group);
        doc.SetAttribute(group, u"Name", name);
        doc.SetAttribute(group, u"Parameter", awkward);
        doc.CreateElement(group, u"Text", u"\u00E4<\u00F6>");
        ASSERT_EQ(doc.SaveFile(PathText(file)), 1);
    }
    std::string bytes = ReadBytes(file);
    EXPECT_NE(bytes.find("Gr\xC3\xB6\xC3\x9F"
                         "e \xE2\x82\xAC \xF0\x9F\x98\x80"),
              std::string::npos);
    XmlDocument doc;
    doc.Open();
    ASSERT_EQ(doc.LoadFile(PathText(file)), 1);
    WideString value;
    ASSERT_EQ(doc.GetValue(u"Mistvale\\Groups\\Group\\Name", value), 1);
    EXPECT_EQ(Str(value), name);
    ASSERT_EQ(doc.GetValue(u"Mistvale\\Groups\\Group\\Parameter", value), 1);
    EXPECT_EQ(Str(value), awkward);
    ASSERT_EQ(doc.GetValue(u"Mistvale\\Groups\\Group\\Text", value), 1);
    EXPECT_EQ(Str(value), u"\u00E4<\u00F6>");
}

TEST(XmlDocumentFiles, DeclaredEncodingsAndBrokenInput) {
    TempFolder folder;
    std::filesystem::path latin = folder.File("latin.xml");
    {
        std::ofstream out(latin, std::ios::binary);
        out << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<r v=\"\xC4\xF6\"/>";
    }
    XmlDocument doc;
    doc.Open();
    ASSERT_EQ(doc.LoadFile(PathText(latin)), 1);
    WideString value;
    ASSERT_EQ(doc.GetValue(u"r\\v", value), 1);
    EXPECT_EQ(Str(value), u"\u00C4\u00F6");
    // Text handed over is already decoded: its declaration does not change it.
    ASSERT_EQ(doc.LoadText(u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r v=\"\u20AC\"/>"), 1);
    ASSERT_EQ(doc.GetValue(u"r\\v", value), 1);
    EXPECT_EQ(Str(value), u"\u20AC");
    // A failed load leaves the document as it was.
    EXPECT_EQ(doc.LoadText(u"<r><unclosed></r>"), 0);
    EXPECT_EQ(doc.LoadText(u""), 0);
    EXPECT_EQ(doc.LoadFile(PathText(folder.File("absent.xml"))), 0);
    ASSERT_EQ(doc.GetValue(u"r\\v", value), 1);
    EXPECT_EQ(Str(value), u"\u20AC");
}

TEST(XmlDocumentSafety, DoctypeIsRefusedUnlessAllowedAndEntitiesNeverExpand) {
    const char16_t* hostile = u"<!DOCTYPE r [<!ENTITY secret SYSTEM \"file:///etc/passwd\">"
                              u"<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
                              u"<r v=\"&b;\">&secret;&amp;</r>";
    XmlDocument strict;
    strict.Open(XmlDocument::kNoValidation | XmlDocument::kNoExternals);
    EXPECT_EQ(strict.LoadText(hostile), 0);
    XmlDocument lenient;
    lenient.Open(XmlDocument::kNoValidation | XmlDocument::kNoExternals | XmlDocument::kAllowDtd);
    ASSERT_EQ(lenient.LoadText(hostile), 1);
    WideString value;
    ASSERT_EQ(lenient.GetValue(u"r", value), 1);
    EXPECT_EQ(Str(value), u"&secret;&");
    ASSERT_EQ(lenient.GetValue(u"r\\v", value), 1);
    EXPECT_EQ(Str(value), u"&b;");
}

TEST(XmlDocumentLifecycle, ClosedDocumentAnswersZero) {
    XmlDocument doc;
    WideString value(u"x");
    EXPECT_EQ(doc.LoadText(u"<r/>"), 0);
    EXPECT_EQ(doc.GetValue(u"r", value), 0);
    EXPECT_TRUE(value.IsEmpty());
    EXPECT_TRUE(doc.FindOrCreatePath(u"r").IsNull());
    EXPECT_EQ(doc.CreateElement(XmlNode(), u"r"), 0);
    std::string bytes("junk");
    EXPECT_EQ(doc.SaveToString(bytes), 0);
    EXPECT_TRUE(bytes.empty());
    ASSERT_EQ(doc.Open(), 1);
    ASSERT_EQ(doc.LoadText(u"<r a=\"1\"/>"), 1);
    doc.Close();
    EXPECT_EQ(doc.GetNumber(u"r\\a", 9), 9u);
    // Open again gives a fresh, empty document.
    ASSERT_EQ(doc.Open(), 1);
    EXPECT_EQ(doc.GetValue(u"r\\a", value), 0);
}

} // namespace mistvale
