#pragma once
// WideString: the program's one text type. An owned, growable, zero-terminated UTF-16 buffer with
// printf-style formatting, ASCII case-insensitive and natural comparison, the "/" path tokeniser and
// UTF-8 conversion. All positions and lengths are in UTF-16 code units. Operations that can fail return
// 1 on success and 0 on failure; nothing throws. A WideString has no lock: one thread at a time.

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace mistvale {

class WideString {
public:
    // A new string is empty and holds this many units (terminator included) before it first grows.
    static constexpr int kDefaultCapacity = 260;
    // Format gives up once the capacity has grown past this many units.
    static constexpr int kFormatLimit = 0x2FFFFF;

    // Code pages for AssignAnsi. The "ANSI" code page of this program is UTF-8.
    static constexpr int kCodePageAnsi = 0;
    static constexpr int kCodePageUtf8 = 65001;
    static constexpr int kCodePageLatin1 = 28591;
    // Raw mode: every byte becomes the code unit of the same value.
    static constexpr int kCodePageRaw = -1;

    WideString();
    // capacity in units, terminator included; 0 is taken as 1.
    explicit WideString(int capacity);
    // Implicit so that u"..." literals can be passed where a WideString is expected. nullptr gives "".
    WideString(const char16_t* text);
    WideString(const char16_t* text, int count);
    WideString(const WideString& other);
    WideString(WideString&& other) noexcept;
    WideString& operator=(const WideString& other);
    WideString& operator=(WideString&& other) noexcept;
    WideString& operator=(const char16_t* text);
    ~WideString();

    // Builds a string from UTF-8 (invalid input gives an empty string).
    static WideString FromUtf8(const char* utf8, int byteCount = -1);

    // --- Assigning -------------------------------------------------------------------------------
    // Copies text (nullptr means empty).
    int Assign(const char16_t* text);
    // Copies at most count units of text (stops early at a zero unit).
    int Assign(const char16_t* text, int count);
    int Assign(const WideString& other);
    // Empties the string and gives it back the default capacity of 260 units.
    void Reset();
    // Empties the string, keeping its buffer.
    void Clear();
    // Converts 8-bit text. byteCount -1 means "up to the zero byte". kCodePageAnsi and kCodePageUtf8
    // decode UTF-8 (surrogate pairs for characters above U+FFFF); invalid UTF-8 fails with 0 and an
    // empty string. kCodePageLatin1 and kCodePageRaw map each byte to the unit of the same value.
    // An unknown code page is retried as ANSI.
    int AssignAnsi(const char* text, int byteCount = -1, int codePage = kCodePageAnsi);
    // Same as AssignAnsi with kCodePageUtf8.
    int AssignUtf8(const char* text, int byteCount = -1);
    int AssignUtf8(std::string_view utf8) { return AssignUtf8(utf8.data(), static_cast<int>(utf8.size())); }

    // --- Appending -------------------------------------------------------------------------------
    // nullptr appends nothing and succeeds.
    int Append(const char16_t* text);
    int Append(const char16_t* text, int count);
    int Append(const WideString& other);
    int AppendChar(char16_t unit);
    // Appends unit unless the text already ends with it (e.g. a folder path and '/').
    int EnsureTrailingChar(char16_t unit);

    // --- Formatting ------------------------------------------------------------------------------
    // Replaces the text with the printf-style output of format. Directives follow the wide printf of
    // the Microsoft C library:
    //   %s  %ls  %ws   a wide string (const char16_t*; nullptr prints "(null)")
    //   %hs %S         an 8-bit UTF-8 string (const char*)
    //   %c             one UTF-16 unit (passed as int);   %hc  an 8-bit char
    //   %d %i %u %x %X %o   32-bit; with h: 16-bit, hh: 8-bit, l: long, ll / I64: 64-bit, z / I: size_t
    //   %f %F %e %E %g %G %a %A  double;   %p  pointer;   %%  a percent sign
    // with the flags "-+ #0", a width and a precision (either may be "*"). %n is refused (the
    // directive prints nothing). Growth: capacity + 260 while the capacity is up to 10,240, then
    // + 10,240 up to 102,400, + 102,400 up to 409,600, then + 409,600; once the capacity exceeds
    // kFormatLimit the string is left empty with 260 units and the result is 0.
    int Format(const char16_t* format, ...);
    int FormatV(const char16_t* format, va_list args);

    // --- Reading ---------------------------------------------------------------------------------
    int Length() const { return length_; }
    bool IsEmpty() const { return length_ == 0; }
    // Units the buffer can hold, terminator included.
    int Capacity() const { return capacity_; }
    // The zero-terminated text; never nullptr.
    const char16_t* Text() const { return buffer_; }
    const char16_t* c_str() const { return buffer_; }
    std::u16string_view View() const { return std::u16string_view(buffer_, static_cast<size_t>(length_)); }
    // The unit at index, or 0 outside the text.
    char16_t At(int index) const;

    // --- Comparing (results: < 0, 0, > 0) ------------------------------------------------------
    // By code unit, like wcscmp. A nullptr text compares as 0 when this string is empty, else -1
    // (the same for the two NoCase forms).
    int Compare(const char16_t* text) const;
    // Like _wcsicmp: only ASCII A..Z fold to lower case ("Ä" and "ä" differ).
    int CompareNoCase(const char16_t* text) const;
    // Like _wcsnicmp over the first count units.
    int CompareNoCaseN(const char16_t* text, int count) const;
    // Natural order: runs of decimal digits compare as numbers, letters without regard to case.
    // Returns -1, 0 or 1.
    int CompareNatural(const char16_t* text) const;
    bool operator==(const WideString& other) const { return View() == other.View(); }
    bool operator==(const char16_t* text) const;

    // --- Searching -------------------------------------------------------------------------------
    // Index of the first occurrence of unit, or -1.
    int FindChar(char16_t unit) const;
    // Index of the first occurrence of text at or after start, ASCII letters compared without regard
    // to case; -1 when absent or when start is not inside the text.
    int FindNoCase(const char16_t* text, int start = 0) const;

    // --- Splitting -------------------------------------------------------------------------------
    // Takes the first token off the front of the string. skipLeading skips separators before the token.
    // A token starting with '"' runs to the first separator after the closing quote (a quote preceded by
    // a backslash does not close). Unless keepQuotes is set, a token that begins and ends with '"'
    // loses both. The token and the one separator after it are removed. Returns 1 when a token was
    // produced; 0 when the string is used up (token then unchanged).
    int NextToken(WideString& token, const char16_t* separators, bool skipLeading = false,
                  bool keepQuotes = false);
    // In-place splitter in the manner of wcstok: first = true starts at the front, later calls go on
    // from the previous token. Runs of separators count as one; empty tokens are never returned.
    // The buffer is cut in place: after the first call the string's text is its first token, and the
    // returned pointers point into the buffer. The splitting state is kept in this string object (not
    // in the C library and not per thread), so two strings can be split at the same time. Any change
    // to the string ends the splitting: the next call without first returns nullptr.
    // Returns nullptr when no token is left.
    const char16_t* Tokenize(bool first, const char16_t* separators);
    // Copies the next line, without its '\n', without '\r' at its start and without the '\r' of a
    // "\r\n" ending, and moves the read position past the '\n'. first = true (and any change to the
    // string) resets the read position to the start. Returns 0 when nothing is left.
    int ReadLine(WideString& line, bool first = false);

    // --- Editing ---------------------------------------------------------------------------------
    // Removes count units at start; a start at or past the end changes nothing; count is cut at the end.
    void Delete(int start, int count);
    // Keeps only count units from start (both limited to the text).
    void Mid(int start, int count);
    // Cuts the text at index (limited to the text).
    void TruncateAt(int index);
    // Inserts text at index (limited to the end).
    int Insert(int index, const char16_t* text);
    // Makes room for at least capacity units (terminator included); the text stays.
    int Reserve(int capacity);
    // Writable buffer of Capacity() units, for filling by hand; call Recount afterwards.
    char16_t* Buffer() { return buffer_; }
    // Recounts the length up to the first zero unit (the last unit of the buffer is forced to 0).
    void Recount();

    // --- Converting ------------------------------------------------------------------------------
    // An 8-bit copy holding the low byte of every unit. The pointer stays valid until the next
    // conversion or the next change of this string.
    const char* ToBytes() const;
    // An 8-bit copy in the ANSI code page (UTF-8); nullptr when the text holds an unpaired surrogate.
    // Same lifetime as ToBytes.
    const char* ToAnsi() const;
    // UTF-8 copy; an unpaired surrogate becomes U+FFFD. Never fails except for lack of memory ("").
    std::string ToUtf8() const;
    // There is no COM string type here; std::u16string is the plain equivalent of ToBstr.
    std::u16string ToU16String() const { return std::u16string(View()); }

private:
    int Grow(int capacity);
    void FailEmpty();
    void Changed();
    int AppendUnits(const char16_t* text, int count, int growthExtra);

    char16_t* buffer_;
    int capacity_;
    int length_;
    mutable std::string conversion_;
    // Tokenize state: the end of the text being split and where the next token starts (-1: none).
    int tokenEnd_ = 0;
    int tokenNext_ = -1;
    int readPos_ = 0;
};

// Length of a zero-terminated UTF-16 text (nullptr counts as 0).
int WideLength(const char16_t* text);

// The token rules of NextToken on plain text, for callers that split without copying: the end of the
// token starting at start (a token opening with '"' runs past its closing quote, one not preceded by a
// backslash, to the next separator), and a token that begins and ends with '"' without both quotes.
int WideTokenEnd(const char16_t* text, int length, int start, const char16_t* separators);
void WideTokenUnquote(const char16_t* text, int& start, int& count);

} // namespace mistvale
