#include "platform/wide_string.h"

#include "platform/wide_string_chars.h"

#include <cstring>

namespace mistvale {

using wide_chars::IsIn;

// --- Splitting -----------------------------------------------------------------------------------

int WideTokenEnd(const char16_t* text, int length, int start, const char16_t* separators) {
    int end = start;
    if (start < length && text[start] == u'"') {
        int close = -1;
        for (int i = start + 1; i < length; ++i) {
            if (text[i] == u'"' && text[i - 1] != u'\\') {
                close = i;
                break;
            }
        }
        end = close < 0 ? length : close;
    }
    while (end < length && !IsIn(text[end], separators))
        ++end;
    return end;
}

void WideTokenUnquote(const char16_t* text, int& start, int& count) {
    if (count > 0 && text[start] == u'"' && text[start + count - 1] == u'"') {
        if (count == 1) {
            count = 0;
        } else {
            ++start;
            count -= 2;
        }
    }
}

int WideString::NextToken(WideString& token, const char16_t* separators, bool skipLeading, bool keepQuotes) {
    int pos = 0;
    if (skipLeading)
        while (pos < length_ && IsIn(buffer_[pos], separators))
            ++pos;
    if (pos >= length_)
        return 0;
    const int end = WideTokenEnd(buffer_, length_, pos, separators);
    int tokenStart = pos;
    int tokenLength = end - pos;
    if (!keepQuotes)
        WideTokenUnquote(buffer_, tokenStart, tokenLength);
    if (&token == this) {
        // Splitting a string into itself: the token is all that remains.
        Assign(buffer_ + tokenStart, tokenLength);
        return 1;
    }
    if (tokenLength == 0)
        token.Clear();
    else
        token.Assign(buffer_ + tokenStart, tokenLength);
    Delete(0, end < length_ ? end + 1 : end);
    return 1;
}

const char16_t* WideString::Tokenize(bool first, const char16_t* separators) {
    int pos;
    if (first) {
        tokenEnd_ = length_;
        pos = 0;
        while (pos < tokenEnd_ && IsIn(buffer_[pos], separators))
            ++pos;
        if (pos > 0) {
            // Move the text behind the leading separators to the front, so that the string reads as
            // its first token once that is cut off.
            std::memmove(buffer_, buffer_ + pos, static_cast<size_t>(tokenEnd_ - pos + 1) * sizeof(char16_t));
            tokenEnd_ -= pos;
            pos = 0;
        }
    } else {
        if (tokenNext_ < 0)
            return nullptr;
        pos = tokenNext_;
    }
    while (pos < tokenEnd_ && IsIn(buffer_[pos], separators))
        ++pos;
    if (pos >= tokenEnd_) {
        tokenNext_ = -1;
        if (first)
            length_ = WideLength(buffer_);
        return nullptr;
    }
    int start = pos;
    while (pos < tokenEnd_ && !IsIn(buffer_[pos], separators))
        ++pos;
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
    if (first)
        readPos_ = 0;
    if (readPos_ >= length_)
        return 0;
    int end = readPos_;
    while (end < length_ && buffer_[end] != u'\n')
        ++end;
    int start = readPos_;
    while (start < end && buffer_[start] == u'\r')
        ++start;
    int stop = end;
    if (stop > start && buffer_[stop - 1] == u'\r')
        --stop;
    int next = end < length_ ? end + 1 : end;
    if (&line == this) {
        Assign(buffer_ + start, stop - start);
        return 1;
    }
    line.Assign(buffer_ + start, stop - start);
    readPos_ = next;
    return 1;
}

} // namespace mistvale
