#include "platform/wide_string.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/utf_convert.h"
#include "platform/wide_printf.h"

namespace mistvale {

// Shared by every string that could not get a buffer of its own; never written to.
static char16_t g_emptyText[1] = {0};

int WideLength(const char16_t* text) {
    if (text == nullptr)
        return 0;
    const char16_t* p = text;
    while (*p != 0)
        ++p;
    return static_cast<int>(p - text);
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
    if (this != &other)
        Assign(other);
    return *this;
}

WideString& WideString::operator=(WideString&& other) noexcept {
    if (this != &other) {
        if (capacity_ > 0)
            std::free(buffer_);
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
    if (capacity_ > 0)
        std::free(buffer_);
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
    if (capacity < 1)
        capacity = 1;
    void* fresh = capacity_ > 0 ? std::realloc(buffer_, static_cast<size_t>(capacity) * sizeof(char16_t))
                                : std::malloc(static_cast<size_t>(capacity) * sizeof(char16_t));
    if (fresh == nullptr) {
        FailEmpty();
        return 0;
    }
    bool hadBuffer = capacity_ > 0;
    buffer_ = static_cast<char16_t*>(fresh);
    capacity_ = capacity;
    if (!hadBuffer)
        length_ = 0;
    if (length_ >= capacity_)
        length_ = capacity_ - 1;
    buffer_[length_] = 0;
    return 1;
}

void WideString::FailEmpty() {
    if (capacity_ > 0)
        std::free(buffer_);
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
    if (capacity <= capacity_)
        return 1;
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
    if (text != nullptr)
        while ((count < 0 || n < count) && text[n] != 0)
            ++n;
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
        if (!Grow(n + 1 + 20))
            return 0;
    }
    std::memcpy(buffer_, text, static_cast<size_t>(n) * sizeof(char16_t));
    length_ = n;
    buffer_[n] = 0;
    return 1;
}

int WideString::Assign(const WideString& other) {
    if (&other == this)
        return 1;
    return Assign(other.buffer_, other.length_);
}

void WideString::Reset() {
    if (capacity_ != kDefaultCapacity) {
        if (capacity_ > 0)
            std::free(buffer_);
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
    if (capacity_ > 0)
        buffer_[0] = 0;
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
            if (!Grow(static_cast<int>(bytes) + 1))
                return 0;
        }
        for (size_t i = 0; i < bytes; ++i)
            buffer_[i] = static_cast<unsigned char>(text[i]);
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
        if (!Grow(static_cast<int>(units) + 1))
            return 0;
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
    if (count <= 0)
        return 1;
    if (length_ + count + 1 > capacity_) {
        bool aliased = text >= buffer_ && text < buffer_ + capacity_;
        long offset = aliased ? static_cast<long>(text - buffer_) : 0;
        if (!Grow(length_ + count + 1 + growthExtra))
            return 0;
        if (aliased)
            text = buffer_ + offset;
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
    while ((count < 0 || n < count) && text[n] != 0)
        ++n;
    return AppendUnits(text, n, 20);
}

int WideString::Append(const WideString& other) {
    return AppendUnits(other.buffer_, other.length_, 20);
}

int WideString::AppendChar(char16_t unit) {
    Changed();
    if (unit == 0)
        return 1;
    if (length_ + 2 > capacity_ && !Grow(length_ + 22))
        return 0;
    buffer_[length_++] = unit;
    buffer_[length_] = 0;
    return 1;
}

int WideString::EnsureTrailingChar(char16_t unit) {
    if (length_ > 0 && buffer_[length_ - 1] == unit)
        return 1;
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
    if (capacity < 1)
        capacity = 1;
    while (needed + 1 > static_cast<size_t>(capacity)) {
        if (capacity > WideString::kFormatLimit)
            return -1;
        if (capacity > 409600)
            capacity += 409600;
        else if (capacity > 102400)
            capacity += 102400;
        else if (capacity > 10240)
            capacity += 10240;
        else
            capacity += 260;
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
        if (capacity_ > 0)
            std::free(buffer_);
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

// --- Editing -------------------------------------------------------------------------------------

void WideString::Delete(int start, int count) {
    Changed();
    if (start < 0 || start >= length_ || count <= 0)
        return;
    if (count > length_ - start)
        count = length_ - start;
    std::memmove(buffer_ + start, buffer_ + start + count,
                 static_cast<size_t>(length_ - start - count + 1) * sizeof(char16_t));
    length_ -= count;
}

void WideString::Mid(int start, int count) {
    Changed();
    if (start < 0)
        start = 0;
    if (start > length_)
        start = length_;
    if (count < 0)
        count = 0;
    if (count > length_ - start)
        count = length_ - start;
    if (capacity_ == 0)
        return;
    std::memmove(buffer_, buffer_ + start, static_cast<size_t>(count) * sizeof(char16_t));
    length_ = count;
    buffer_[length_] = 0;
}

void WideString::TruncateAt(int index) {
    Changed();
    if (index < 0)
        index = 0;
    if (index < length_) {
        length_ = index;
        buffer_[length_] = 0;
    }
}

int WideString::Insert(int index, const char16_t* text) {
    Changed();
    int n = WideLength(text);
    if (n == 0)
        return 1;
    if (index < 0)
        index = 0;
    if (index > length_)
        index = length_;
    if (text >= buffer_ && text < buffer_ + capacity_) {
        // Inserting a piece of ourselves: take a copy first, the move below would overwrite it.
        WideString copy(text, n);
        return Insert(index, copy.Text());
    }
    if (length_ + n + 1 > capacity_ && !Grow(length_ + n + 1 + 20))
        return 0;
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
    for (int i = 0; i < length_; ++i)
        conversion_[static_cast<size_t>(i)] = static_cast<char>(buffer_[i] & 0xFF);
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

} // namespace mistvale
