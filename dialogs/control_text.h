#pragma once
// What the dialog foundation's files share about controls: the property that groups radio buttons, and
// the escaping of "&" for controls whose text has no mnemonic.
#include <QString>

namespace mistvale {

inline constexpr const char* kPropertyRadioGroup = "dialogRadioGroup";

// "&" stands for itself (it would otherwise underline the next letter).
inline QString EscapeMnemonic(const QString& text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('&'), QLatin1String("&&"));
    return escaped;
}

} // namespace mistvale
