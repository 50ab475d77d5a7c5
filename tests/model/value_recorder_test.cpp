#include "model/group.h"
#include "model/local_time.h"
#include "model/source.h"
#include "model/value_recorder.h"
#include "model_test_support.h"

#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

namespace mistvale {

namespace {

// Splits the file into its lines (CR LF ends each).
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

TEST(ValueRecorder, FieldsAreQuotedOnlyWhereTheFormatAsks) {
    std::string row;
    ValueRecorder::AppendField(row, "plain name");
    row += ',';
    ValueRecorder::AppendField(row, "a, b");
    row += ',';
    ValueRecorder::AppendField(row, "say \"hi\"");
    row += ',';
    ValueRecorder::AppendField(row, "two\nlines");
    EXPECT_EQ(row, "plain name,\"a, b\",\"say \"\"hi\"\"\",\"two\nlines\"");
}

TEST(ValueRecorder, TimesAreLocalIso8601WithMillisecondsAndOffset) {
    const std::string text = Iso8601LocalTime(1796738602418); // 2026-12-08T14:03:22.418 UTC
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.418[+-]\d\d:\d\d)")))
        << text;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(Iso8601LocalTime(1796738602418), "2026-12-08T14:03:22.418+00:00");
    ::setenv("TZ", "CET-1", 1);
    ::tzset();
    EXPECT_EQ(Iso8601LocalTime(1796738602418), "2026-12-08T15:03:22.418+01:00");
    ::unsetenv("TZ");
    ::tzset();
}

// Rows for reads, failures and writes, with names that need quoting; a second recording into the
// same file appends under the one header.
TEST(ValueRecorder, RowsOfReadsFailuresAndWritesAppendAcrossRuns) {
    TempFolder folder;
    const std::string path = folder.File("values.csv");
    Group group;
    group.SetName(u"Boiler, \"east\"");
    Source source;
    source.SetNameAndParameter(u"Flow\nrate", u"100/float");

    for (int run = 0; run < 2; ++run) {
        ValueRecorder recorder;
        std::string error;
        ASSERT_EQ(recorder.Start(path, &error), 1) << error;
        EXPECT_EQ(recorder.IsRecording(), 1);
        source.SetValue(u"1.500");
        ValueRecorder::OnOutcome(&recorder, group, source);
        source.SetFailedValue(u"Can't get value.", "No reply from slave 5 within 0.5 s");
        ValueRecorder::OnOutcome(&recorder, group, source);
        recorder.Stop();
        EXPECT_EQ(recorder.IsRecording(), 0);
        ValueRecorder::OnOutcome(&recorder, group, source); // not recording: nothing
    }
    const std::vector<std::string> lines = Lines(ReadWholeFile(path));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "time,group,source,parameter,value,status");
    const std::regex ok(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d,"Boiler, ""east""",)"
                        R"("Flow\nrate",100/float,1\.500,ok)");
    const std::regex failed(R"([^,]+,"Boiler, ""east""","Flow\nrate",100/float,Can't get value\.,)"
                            R"(No reply from slave 5 within 0\.5 s)");
    EXPECT_TRUE(std::regex_match(lines[1], ok)) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], failed)) << lines[2];
    EXPECT_TRUE(std::regex_match(lines[3], ok)) << lines[3];
    EXPECT_TRUE(std::regex_match(lines[4], failed)) << lines[4];
}

// Rows reach the file within about a second while the recording runs, not only at its end.
TEST(ValueRecorder, RowsAreWrittenAtLeastOnceASecond) {
    TempFolder folder;
    const std::string path = folder.File("live.csv");
    ValueRecorder recorder;
    ASSERT_EQ(recorder.Start(path), 1);
    Group group;
    Source source;
    source.SetValue(u"7");
    ValueRecorder::OnOutcome(&recorder, group, source);
    EXPECT_TRUE(
        WaitUntil([&] { return Lines(ReadWholeFile(path)).size() == 2; }, std::chrono::milliseconds(3000)));
    recorder.Stop();
}

// When the file goes away the recording stops by itself and says why; queueing rows then costs
// nothing and a new recording can start.
TEST(ValueRecorder, RemovedFileStopsTheRecordingWithAReason) {
    TempFolder folder;
    const std::string path = folder.File("gone.csv");
    ValueRecorder recorder;
    ASSERT_EQ(recorder.Start(path), 1);
    ASSERT_EQ(::unlink(path.c_str()), 0);
    Group group;
    Source source;
    source.SetValue(u"1");
    ValueRecorder::OnOutcome(&recorder, group, source);
    EXPECT_TRUE(WaitUntil([&] { return recorder.IsRecording() == 0; }, std::chrono::milliseconds(3000)));
    EXPECT_EQ(recorder.StopReason(), "The file was removed");
    ValueRecorder::OnOutcome(&recorder, group, source);
    EXPECT_EQ(recorder.Start(folder.File("again.csv")), 1);
    EXPECT_EQ(recorder.StopReason(), "");
    recorder.Stop();
    std::string error;
    EXPECT_EQ(recorder.Start(folder.File("no/such/folder.csv"), &error), 0);
    EXPECT_FALSE(error.empty());
}

} // namespace

} // namespace mistvale
