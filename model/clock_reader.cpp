#include "model/clock_reader.h"

#include "model/group.h"
#include "model/local_time.h"
#include "model/source.h"

#include <iomanip>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <string>

namespace mistvale {

namespace {

// The environment's locale; the classic one when the environment names a locale that is not there.
std::locale EnvironmentLocale() {
    try {
        return std::locale("");
    } catch (const std::runtime_error&) {
        return std::locale::classic();
    }
}

// Formats a local time with a strftime pattern in the environment's locale, as UTF-16.
int FormatLocal(const std::tm& now, const wchar_t* pattern, WideString& out) {
    std::wstring text;
    try {
        std::wostringstream stream;
        stream.imbue(EnvironmentLocale());
        stream << std::put_time(&now, pattern);
        if (!stream)
            return 0;
        text = stream.str();
    } catch (const std::exception&) {
        return 0;
    }
    out.Clear();
    for (wchar_t wide : text) {
        char32_t code = static_cast<char32_t>(wide);
        if (sizeof(wchar_t) > 2 && code > 0xFFFF) {
            code -= 0x10000;
            out.AppendChar(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.AppendChar(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.AppendChar(static_cast<char16_t>(code));
        }
    }
    return 1;
}

int FormatNow(const wchar_t* pattern, WideString& out) {
    std::tm now{};
    return LocalTimeNow(now) && FormatLocal(now, pattern, out) ? 1 : 0;
}

} // namespace

int FormatClockTime(std::int64_t ms, WideString& out) {
    std::tm local{};
    return LocalTimeAt(ms, local) && FormatLocal(local, L"%X", out) ? 1 : 0;
}

int IsClockGroup(const Group& group) {
    WideString rest(group.Parameter());
    WideString kind;
    if (!rest.NextToken(kind, u"/"))
        return 0;
    return kind.CompareNoCase(u"Clock") == 0 ? 1 : 0;
}

int ReadClockValue(Source& source) {
    WideString parameter(source.Parameter());
    const wchar_t* pattern = nullptr;
    if (parameter.CompareNoCase(u"Date") == 0)
        pattern = L"%x";
    else if (parameter.CompareNoCase(u"Time") == 0)
        pattern = L"%X";
    else
        return 0;
    WideString value;
    if (!FormatNow(pattern, value))
        return 0;
    source.SetValue(value);
    return 1;
}

void ReadClockSource(Group& group, Source& source) {
    if (IsClockGroup(group))
        ReadClockValue(source);
}

} // namespace mistvale
