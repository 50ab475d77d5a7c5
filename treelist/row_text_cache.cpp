#include "treelist/row_text_cache.h"

#include <QFontMetrics>
#include <QTransform>

namespace mistvale {

const QStaticText& RowTextCache::Prepared(int node, int column, QStringView text, int available,
                                          const QFont& font, const QFontMetrics& metrics) {
    if (!(font == font_)) {
        entries_.clear();
        font_ = font;
    }
    const quint64 key =
        (static_cast<quint64>(static_cast<quint32>(node)) << 32) | static_cast<quint32>(column);
    auto found = entries_.find(key);
    if (found != entries_.end() && found->available == available && QStringView(found->source) == text)
        return found->prepared;
    if (found == entries_.end()) {
        if (entries_.size() >= kMaxEntries)
            entries_.clear();
        found = entries_.insert(key, Entry());
    }
    Entry& entry = *found;
    entry.source = text.toString();
    entry.available = available;
    QString shown = entry.source;
    if (metrics.horizontalAdvance(shown) > available)
        shown = metrics.elidedText(shown, Qt::ElideRight, available);
    entry.prepared.setTextFormat(Qt::PlainText);
    entry.prepared.setText(shown);
    entry.prepared.prepare(QTransform(), font);
    return entry.prepared;
}

void RowTextCache::Clear() {
    entries_.clear();
}

} // namespace mistvale
