#pragma once
// Row texts laid out once and drawn many times. Qt lays a text out (and allocates for it) on every
// drawText; a window of a thousand rows repainted every refresh would do that a thousand times a second
// for texts that rarely change. Each cell keeps its text prepared for the width it had and the font it
// was drawn in; a changed text, width or font lays it out again.
#include <QFont>
#include <QHash>
#include <QStaticText>
#include <QString>
#include <QStringView>

class QFontMetrics;

namespace mistvale {

class RowTextCache {
public:
    // The text of `node`'s `column`, elided on the right to fit `available` pixels, ready to draw.
    const QStaticText& Prepared(int node, int column, QStringView text, int available, const QFont& font,
                                const QFontMetrics& metrics);

    // Forgets every prepared text (a new model, or a font change seen by the owner).
    void Clear();

    int Size() const { return static_cast<int>(entries_.size()); }

private:
    struct Entry {
        QString source;
        int available = -1;
        QStaticText prepared;
    };

    // Far more than any window shows; a cache that grows past it is dropped and rebuilt.
    static constexpr int kMaxEntries = 16384;

    QHash<quint64, Entry> entries_;
    QFont font_;
};

} // namespace mistvale
