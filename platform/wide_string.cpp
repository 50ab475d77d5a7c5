#include "platform/wide_string.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/utf_convert.h"
#include "platform/wide_printf.h"

// Shared by every string that could not get a buffer of its own; never written to.
static char16_t g_emptyText[1] = {0};

int WideLength(const char16_t* text) {
    if (text == nullptr) {
        return 0;
    }
    const char16_t* p = text;
    while (*p != 0) {
        ++p;
    }
    return static_cast<int>(p - text);
}

static char16_t FoldAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

// A wider case folding for the natural order: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic
// capitals map to their small letters.
static char16_t FoldLetter(char16_t c) {
    if (c < 0x80) {
        return FoldAscii(c);
    }
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) {
        return static_cast<char16_t>(c + 32);
    }
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        bool evenIsCapital = (c < 0x139) || (c > 0x148 && c < 0x179);
        if (evenIsCapital && c % 2 == 0) {
            return static_cast<char16_t>(c + 1);
        }
        if (!evenIsCapital && c % 2 == 1) {
            return static_cast<char16_t>(c + 1);
        }
        return c;
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) {
        return static_cast<char16_t>(c + 32);
    }
    if (c >= 0x410 && c <= 0x42F) {
        return static_cast<char16_t>(c + 32);
    }
    if (c >= 0x400 && c <= 0x40F) {
        return static_cast<char16_t>(c + 80);
    }
    return c;
}

static bool IsIn(char16_t c, const char16_t* set) {
    if (set == nullptr) {
        return false;
    }
    for (const char16_t* p = set; *p != 0; ++p) {
        if (*p == c) {
            return true;
        }
    }
    return false;
}

static bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// --- Construction ------------------------------------------------------------------------------

WideString::WideString() : WideString(kDefaultCapacity) {}

WideString::WideString(int capacity) : buffer_(g_emptyText), capacity_(0), length_(0) {
    Grow(capacity < 1 ? 1 : capacity);
}

WideString::WideString(const char16_t* text) : WideString(kDefaultCapacity) {
    Assign(text);
}

WideString::WideString(const char16_t* text, int count) : WideString(kDefaultCapacity) {
    Assign(text, count);
}

WideString::WideString(const WideString& other)
    : WideString(other.length_ + 1 > kDefaultCapacity ? other.length_ + 1 : kDefaultCapacity) {
    Assign(other);
}

WideString::WideString(WideString&& other) noexcept
    : buffer_(other.buffer_), capacity_(other.capacity_), length_(other.length_) {
    conversion_.swap(other.conversion_);
    other.buffer_ = g_emptyText;
    other.capacity_ = 0;
    other.length_ = 0;
    other.Changed();
}

WideString& WideString::operator=(const WideString& other) {
    if (this != &other) {
        Assign(other);
    }
    return *this;
}

WideString& WideString::operator=(WideString&& other) noexcept {
    if (this != &other) {
        if (capacity_ > 0) {
            std::free(buffer_);
        }
        buffer_ = other.buffer_;
        capacity_ = other.capacity_;
        length_ = other.length_;
        conversion_.swap(other.conversion_);
        other.buffer_ = g_emptyText;
        other.capacity_ = 0;
        other.length_ = 0;
        other.Changed();
        Changed();
    }
    return *this;
}

WideString& WideString::operator=(const char16_t* text) {
    Assign(text);
    return *this;
}

WideString::~WideString() {
    if (capacity_ > 0) {
        std::free(buffer_);
    }
}

WideString WideString::FromUtf8(const char* utf8, int byteCount) {
    WideString result;
    result.AssignUtf8(utf8, byteCount);
    return result;
}

// --- Buffer management ---------------------------------------------------------------------------

// Reallocates to exactly capacity units, keeping the text. On failure the string is left empty with
// the default capacity and 0 is returned.
int WideString::Grow(int capacity) {
    if (capacity < 1) {
        capacity = 1;
    }
    void* fresh = capacity_ > 0 ? std::realloc(buffer_, static_cast<size_t>(capacity) * sizeof(char16_t))
                                : std::malloc(static_cast<size_t>(capacity) * sizeof(char16_t));
    if (fresh == nullptr) {
        FailEmpty();
        return 0;
    }
    bool hadBuffer = capacity_ > 0;
    buffer_ = static_cast<char16_t*>(fresh);
    capacity_ = capacity;
    if (!hadBuffer) {
        length_ = 0;
    }
    if (length_ >= capacity_) {
        length_ = capacity_ - 1;
    }
    buffer_[length_] = 0;
    return 1;
}

void WideString::FailEmpty() {
    if (capacity_ > 0) {
        std::free(buffer_);
    }
    buffer_ = g_emptyText;
    capacity_ = 0;
    length_ = 0;
    Changed();
    void* fresh = std::malloc(kDefaultCapacity * sizeof(char16_t));
    if (fresh != nullptr) {
        buffer_ = static_cast<char16_t*>(fresh);
        capacity_ = kDefaultCapacity;
        buffer_[0] = 0;
    }
}

void WideString::Changed() {
    tokenNext_ = -1;
    readPos_ = 0;
}

int WideString::Reserve(int capacity) {
    if (capacity <= capacity_) {
        return 1;
    }
    return Grow(capacity);
}

void WideString::Recount() {
    Changed();
    if (capacity_ == 0) {
        length_ = 0;
        return;
    }
    buffer_[capacity_ - 1] = 0;
    length_ = WideLength(buffer_);
}

// --- Assigning -----------------------------------------------------------------------------------

int WideString::Assign(const char16_t* text) {
    return Assign(text, -1);
}

int WideString::Assign(const char16_t* text, int count) {
    Changed();
    int n = 0;
    if (text != nullptr) {
        while ((count < 0 || n < count) && text[n] != 0) {
            ++n;
        }
    }
    if (n == 0) {
        Clear();
        return 1;
    }
    if (text >= buffer_ && text < buffer_ + capacity_) {
        // A part of our own text: it moves to the front and the buffer stays.
        std::memmove(buffer_, text, static_cast<size_t>(n) * sizeof(char16_t));
        length_ = n;
        buffer_[n] = 0;
        return 1;
    }
    if (n + 1 > capacity_) {
        length_ = 0;
        if (!Grow(n + 1 + 20)) {
            return 0;
        }
    }
    std::memcpy(buffer_, text, static_cast<size_t>(n) * sizeof(char16_t));
    length_ = n;
    buffer_[n] = 0;
    return 1;
}

int WideString::Assign(const WideString& other) {
    if (&other == this) {
        return 1;
    }
    return Assign(other.buffer_, other.length_);
}

void WideString::Reset() {
    if (capacity_ != kDefaultCapacity) {
        if (capacity_ > 0) {
            std::free(buffer_);
        }
        buffer_ = g_emptyText;
        capacity_ = 0;
        length_ = 0;
        Grow(kDefaultCapacity);
    }
    Clear();
}

void WideString::Clear() {
    Changed();
    length_ = 0;
    if (capacity_ > 0) {
        buffer_[0] = 0;
    }
}

int WideString::AssignAnsi(const char* text, int byteCount, int codePage) {
    Changed();
    if (text == nullptr) {
        Clear();
        return 1;
    }
    size_t bytes = byteCount < 0 ? std::strlen(text) : static_cast<size_t>(byteCount);
    if (bytes > 0x7FFFFFF0u) {
        Clear();
        return 0;
    }
    if (codePage == kCodePageRaw || codePage == kCodePageLatin1) {
        if (static_cast<int>(bytes) + 1 > capacity_) {
            length_ = 0;
            if (!Grow(static_cast<int>(bytes) + 1)) {
                return 0;
            }
        }
        for (size_t i = 0; i < bytes; ++i) {
            buffer_[i] = static_cast<unsigned char>(text[i]);
        }
        length_ = static_cast<int>(bytes);
        buffer_[length_] = 0;
        Recount();
        return 1;
    }
    // Every other code page, known or not, is read as the ANSI code page, UTF-8.
    long units = Utf8ToUtf16Length(text, bytes);
    if (units < 0) {
        Clear();
        return 0;
    }
    if (units + 1 > capacity_) {
        length_ = 0;
        if (!Grow(static_cast<int>(units) + 1)) {
            return 0;
        }
    }
    Utf8ToUtf16(text, bytes, buffer_);
    buffer_[units] = 0;
    // An embedded zero byte ends the text, as it does for every zero-terminated string.
    Recount();
    return 1;
}

int WideString::AssignUtf8(const char* text, int byteCount) {
    return AssignAnsi(text, byteCount, kCodePageUtf8);
}

// --- Appending -----------------------------------------------------------------------------------

int WideString::AppendUnits(const char16_t* text, int count, int growthExtra) {
    Changed();
    if (count <= 0) {
        return 1;
    }
    if (length_ + count + 1 > capacity_) {
        bool aliased = text >= buffer_ && text < buffer_ + capacity_;
        long offset = aliased ? static_cast<long>(text - buffer_) : 0;
        if (!Grow(length_ + count + 1 + growthExtra)) {
            return 0;
        }
        if (aliased) {
            text = buffer_ + offset;
        }
    }
    std::memmove(buffer_ + length_, text, static_cast<size_t>(count) * sizeof(char16_t));
    length_ += count;
    buffer_[length_] = 0;
    return 1;
}

int WideString::Append(const char16_t* text) {
    return Append(text, -1);
}

int WideString::Append(const char16_t* text, int count) {
    if (text == nullptr) {
        Changed();
        return 1;
    }
    int n = 0;
    while ((count < 0 || n < count) && text[n] != 0) {
        ++n;
    }
    return AppendUnits(text, n, 20);
}

int WideString::Append(const WideString& other) {
    return AppendUnits(other.buffer_, other.length_, 20);
}

int WideString::AppendChar(char16_t unit) {
    Changed();
    if (unit == 0) {
        return 1;
    }
    if (length_ + 2 > capacity_ && !Grow(length_ + 22)) {
        return 0;
    }
    buffer_[length_++] = unit;
    buffer_[length_] = 0;
    return 1;
}

int WideString::EnsureTrailingChar(char16_t unit) {
    if (length_ > 0 && buffer_[length_ - 1] == unit) {
        return 1;
    }
    return AppendChar(unit);
}

// --- Formatting ----------------------------------------------------------------------------------

int WideString::Format(const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    int result = FormatV(format, args);
    va_end(args);
    return result;
}

// The capacity the growth steps reach for an output of needed units, or -1 when they give up first.
static long FormatCapacity(long capacity, size_t needed) {
    if (capacity < 1) {
        capacity = 1;
    }
    while (needed + 1 > static_cast<size_t>(capacity)) {
        if (capacity > WideString::kFormatLimit) {
            return -1;
        }
        if (capacity > 409600) {
            capacity += 409600;
        } else if (capacity > 102400) {
            capacity += 102400;
        } else if (capacity > 10240) {
            capacity += 10240;
        } else {
            capacity += 260;
        }
    }
    return capacity;
}

int WideString::FormatV(const char16_t* format, va_list args) {
    Changed();
    // First pass: measure, and learn whether a "%s" argument lives in our own buffer (then the new
    // text is built in a fresh buffer so the argument is read intact).
    WidePrintSink measure;
    measure.guardBegin = buffer_;
    measure.guardEnd = buffer_ + capacity_;
    va_list copy;
    va_copy(copy, args);
    size_t needed = WidePrintV(measure, format, copy);
    va_end(copy);

    long capacity = FormatCapacity(capacity_, needed);
    if (capacity < 0) {
        FailEmpty();
        return 0;
    }
    if (measure.aliased || capacity > capacity_ || capacity_ == 0) {
        char16_t* fresh =
            static_cast<char16_t*>(std::malloc(static_cast<size_t>(capacity) * sizeof(char16_t)));
        if (fresh == nullptr) {
            FailEmpty();
            return 0;
        }
        WidePrintSink out;
        out.buffer = fresh;
        out.room = static_cast<size_t>(capacity) - 1;
        va_copy(copy, args);
        WidePrintV(out, format, copy);
        va_end(copy);
        if (capacity_ > 0) {
            std::free(buffer_);
        }
        buffer_ = fresh;
        capacity_ = static_cast<int>(capacity);
    } else {
        WidePrintSink out;
        out.buffer = buffer_;
        out.room = static_cast<size_t>(capacity_) - 1;
        va_copy(copy, args);
        WidePrintV(out, format, copy);
        va_end(copy);
    }
    length_ = static_cast<int>(needed);
    buffer_[length_] = 0;
    // A "%c" of 0 or a zero inside an argument ends the text there.
    length_ = WideLength(buffer_);
    return 1;
}

// --- Reading and comparing -------------------------------------------------------------------------

char16_t WideString::At(int index) const {
    return index >= 0 && index < length_ ? buffer_[index] : 0;
}

int WideString::Compare(const char16_t* text) const {
    if (text == nullptr) {
        return length_ == 0 ? 0 : -1;
    }
    const char16_t* a = buffer_;
    const char16_t* b = text;
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b ? 0 : (*a < *b ? -1 : 1);
}

int WideString::CompareNoCase(const char16_t* text) const {
    if (text == nullptr) {
        return length_ == 0 ? 0 : -1;
    }
    const char16_t* a = buffer_;
    const char16_t* b = text;
    for (;; ++a, ++b) {
        char16_t x = FoldAscii(*a);
        char16_t y = FoldAscii(*b);
        if (x != y) {
            return x < y ? -1 : 1;
        }
        if (x == 0) {
            return 0;
        }
    }
}

int WideString::CompareNoCaseN(const char16_t* text, int count) const {
    if (text == nullptr) {
        return length_ == 0 ? 0 : -1;
    }
    for (int i = 0; i < count; ++i) {
        char16_t x = FoldAscii(buffer_[i]);
        char16_t y = FoldAscii(text[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
        if (x == 0) {
            return 0;
        }
    }
    return 0;
}

int WideString::CompareNatural(const char16_t* text) const {
    if (text == nullptr) {
        text = u"";
    }
    const char16_t* a = buffer_;
    const char16_t* b = text;
    int zeroTieBreak = 0;
    while (*a != 0 && *b != 0) {
        if (IsDigit(*a) && IsDigit(*b)) {
            const char16_t* za = a;
            const char16_t* zb = b;
            while (*a == u'0') {
                ++a;
            }
            while (*b == u'0') {
                ++b;
            }
            long zerosA = static_cast<long>(a - za);
            long zerosB = static_cast<long>(b - zb);
            const char16_t* ea = a;
            const char16_t* eb = b;
            while (IsDigit(*ea)) {
                ++ea;
            }
            while (IsDigit(*eb)) {
                ++eb;
            }
            long digitsA = static_cast<long>(ea - a);
            long digitsB = static_cast<long>(eb - b);
            if (digitsA != digitsB) {
                return digitsA < digitsB ? -1 : 1;
            }
            for (; a < ea; ++a, ++b) {
                if (*a != *b) {
                    return *a < *b ? -1 : 1;
                }
            }
            if (zeroTieBreak == 0 && zerosA != zerosB) {
                zeroTieBreak = zerosA < zerosB ? -1 : 1;
            }
            continue;
        }
        char16_t x = FoldLetter(*a);
        char16_t y = FoldLetter(*b);
        if (x != y) {
            return x < y ? -1 : 1;
        }
        ++a;
        ++b;
    }
    if (*a != 0) {
        return 1;
    }
    if (*b != 0) {
        return -1;
    }
    return zeroTieBreak;
}

bool WideString::operator==(const char16_t* text) const {
    return Compare(text) == 0;
}

// --- Searching -----------------------------------------------------------------------------------

int WideString::FindChar(char16_t unit) const {
    for (int i = 0; i < length_; ++i) {
        if (buffer_[i] == unit) {
            return i;
        }
    }
    return -1;
}

int WideString::FindNoCase(const char16_t* text, int start) const {
    if (text == nullptr || start < 0 || start >= length_) {
        return -1;
    }
    int n = WideLength(text);
    for (int i = start; i + n <= length_; ++i) {
        int k = 0;
        while (k < n && FoldAscii(buffer_[i + k]) == FoldAscii(text[k])) {
            ++k;
        }
        if (k == n) {
            return i;
        }
    }
    return -1;
}

// --- Splitting -----------------------------------------------------------------------------------

int WideString::NextToken(WideString& token, const char16_t* separators, bool skipLeading, bool keepQuotes) {
    int pos = 0;
    if (skipLeading) {
        while (pos < length_ && IsIn(buffer_[pos], separators)) {
            ++pos;
        }
    }
    if (pos >= length_) {
        return 0;
    }
    int end = pos;
    if (buffer_[pos] == u'"') {
        int close = -1;
        for (int i = pos + 1; i < length_; ++i) {
            if (buffer_[i] == u'"' && buffer_[i - 1] != u'\\') {
                close = i;
                break;
            }
        }
        end = close < 0 ? length_ : close;
    }
    while (end < length_ && !IsIn(buffer_[end], separators)) {
        ++end;
    }
    int tokenStart = pos;
    int tokenLength = end - pos;
    if (!keepQuotes && tokenLength > 0 && buffer_[tokenStart] == u'"' &&
        buffer_[tokenStart + tokenLength - 1] == u'"') {
        if (tokenLength == 1) {
            tokenLength = 0;
        } else {
            ++tokenStart;
            tokenLength -= 2;
        }
    }
    if (&token == this) {
        // Splitting a string into itself: the token is all that remains.
        Assign(buffer_ + tokenStart, tokenLength);
        return 1;
    }
    if (tokenLength == 0) {
        token.Clear();
    } else {
        token.Assign(buffer_ + tokenStart, tokenLength);
    }
    Delete(0, end < length_ ? end + 1 : end);
    return 1;
}

const char16_t* WideString::Tokenize(bool first, const char16_t* separators) {
    int pos;
    if (first) {
        tokenEnd_ = length_;
        pos = 0;
        while (pos < tokenEnd_ && IsIn(buffer_[pos], separators)) {
            ++pos;
        }
        if (pos > 0) {
            // Move the text behind the leading separators to the front, so that the string reads as
            // its first token once that is cut off.
            std::memmove(buffer_, buffer_ + pos, static_cast<size_t>(tokenEnd_ - pos + 1) * sizeof(char16_t));
            tokenEnd_ -= pos;
            pos = 0;
        }
    } else {
        if (tokenNext_ < 0) {
            return nullptr;
        }
        pos = tokenNext_;
    }
    while (pos < tokenEnd_ && IsIn(buffer_[pos], separators)) {
        ++pos;
    }
    if (pos >= tokenEnd_) {
        tokenNext_ = -1;
        if (first) {
            length_ = WideLength(buffer_);
        }
        return nullptr;
    }
    int start = pos;
    while (pos < tokenEnd_ && !IsIn(buffer_[pos], separators)) {
        ++pos;
    }
    if (pos < tokenEnd_) {
        buffer_[pos] = 0;
        tokenNext_ = pos + 1;
    } else {
        tokenNext_ = tokenEnd_;
    }
    if (first) {
        length_ = WideLength(buffer_);
        readPos_ = 0;
    }
    return buffer_ + start;
}

int WideString::ReadLine(WideString& line, bool first) {
    if (first) {
        readPos_ = 0;
    }
    if (readPos_ >= length_) {
        return 0;
    }
    int end = readPos_;
    while (end < length_ && buffer_[end] != u'\n') {
        ++end;
    }
    int start = readPos_;
    while (start < end && buffer_[start] == u'\r') {
        ++start;
    }
    int stop = end;
    if (stop > start && buffer_[stop - 1] == u'\r') {
        --stop;
    }
    int next = end < length_ ? end + 1 : end;
    if (&line == this) {
        Assign(buffer_ + start, stop - start);
        return 1;
    }
    line.Assign(buffer_ + start, stop - start);
    readPos_ = next;
    return 1;
}

// --- Editing -------------------------------------------------------------------------------------

void WideString::Delete(int start, int count) {
    Changed();
    if (start < 0 || start >= length_ || count <= 0) {
        return;
    }
    if (count > length_ - start) {
        count = length_ - start;
    }
    std::memmove(buffer_ + start, buffer_ + start + count,
                 static_cast<size_t>(length_ - start - count + 1) * sizeof(char16_t));
    length_ -= count;
}

void WideString::Mid(int start, int count) {
    Changed();
    if (start < 0) {
        start = 0;
    }
    if (start > length_) {
        start = length_;
    }
    if (count < 0) {
        count = 0;
    }
    if (count > length_ - start) {
        count = length_ - start;
    }
    if (capacity_ == 0) {
        return;
    }
    std::memmove(buffer_, buffer_ + start, static_cast<size_t>(count) * sizeof(char16_t));
    length_ = count;
    buffer_[length_] = 0;
}

void WideString::TruncateAt(int index) {
    Changed();
    if (index < 0) {
        index = 0;
    }
    if (index < length_) {
        length_ = index;
        buffer_[length_] = 0;
    }
}

int WideString::Insert(int index, const char16_t* text) {
    Changed();
    int n = WideLength(text);
    if (n == 0) {
        return 1;
    }
    if (index < 0) {
        index = 0;
    }
    if (index > length_) {
        index = length_;
    }
    if (text >= buffer_ && text < buffer_ + capacity_) {
        // Inserting a piece of ourselves: take a copy first, the move below would overwrite it.
        WideString copy(text, n);
        return Insert(index, copy.Text());
    }
    if (length_ + n + 1 > capacity_ && !Grow(length_ + n + 1 + 20)) {
        return 0;
    }
    std::memmove(buffer_ + index + n, buffer_ + index,
                 static_cast<size_t>(length_ - index + 1) * sizeof(char16_t));
    std::memcpy(buffer_ + index, text, static_cast<size_t>(n) * sizeof(char16_t));
    length_ += n;
    return 1;
}

// --- Converting ----------------------------------------------------------------------------------

const char* WideString::ToBytes() const {
    try {
        conversion_.resize(static_cast<size_t>(length_));
    } catch (...) {
        conversion_.clear();
        return nullptr;
    }
    for (int i = 0; i < length_; ++i) {
        conversion_[static_cast<size_t>(i)] = static_cast<char>(buffer_[i] & 0xFF);
    }
    return conversion_.c_str();
}

const char* WideString::ToAnsi() const {
    try {
        conversion_.clear();
        if (!Utf16ToUtf8(buffer_, static_cast<size_t>(length_), conversion_, true)) {
            conversion_.clear();
            return nullptr;
        }
    } catch (...) {
        conversion_.clear();
        return nullptr;
    }
    return conversion_.c_str();
}

std::string WideString::ToUtf8() const {
    std::string result;
    try {
        Utf16ToUtf8(buffer_, static_cast<size_t>(length_), result, false);
    } catch (...) {
        result.clear();
    }
    return result;
}
