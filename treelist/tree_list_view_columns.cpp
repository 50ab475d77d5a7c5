#include "treelist/tree_list_view.h"

#include <QByteArray>
#include <QHeaderView>
#include <QSettings>
#include <QTreeView>

#include <cstdint>

namespace mistvale {

// The column layout as bytes: N little-endian 32-bit column indexes in display order, then N widths.

namespace {

void PutInt32(char* out, std::int32_t value) {
    const std::uint32_t bits = static_cast<std::uint32_t>(value);
    out[0] = static_cast<char>(bits & 0xFF);
    out[1] = static_cast<char>((bits >> 8) & 0xFF);
    out[2] = static_cast<char>((bits >> 16) & 0xFF);
    out[3] = static_cast<char>((bits >> 24) & 0xFF);
}

std::int32_t GetInt32(const char* in) {
    const std::uint32_t bits = static_cast<std::uint32_t>(static_cast<unsigned char>(in[0])) |
                               (static_cast<std::uint32_t>(static_cast<unsigned char>(in[1])) << 8) |
                               (static_cast<std::uint32_t>(static_cast<unsigned char>(in[2])) << 16) |
                               (static_cast<std::uint32_t>(static_cast<unsigned char>(in[3])) << 24);
    return static_cast<std::int32_t>(bits);
}

} // namespace

int TreeListView::SaveColumns(QByteArray& bytes) const {
    if (!tree_)
        return 0;
    QHeaderView* header = tree_->header();
    const int n = header->count();
    if (n <= 0)
        return 0;
    QByteArray out(qsizetype{8} * n, '\0');
    for (int position = 0; position < n; ++position)
        PutInt32(out.data() + qsizetype{4} * position, header->logicalIndex(position));
    for (int column = 0; column < n; ++column)
        PutInt32(out.data() + qsizetype{4} * (n + column), header->sectionSize(column));
    bytes = out;
    return 1;
}

int TreeListView::LoadColumns(const QByteArray& bytes) {
    if (!tree_)
        return 0;
    QHeaderView* header = tree_->header();
    const int n = header->count();
    if (n <= 0 || bytes.size() != qsizetype{8} * n)
        return 0;
    std::vector<int> order(static_cast<size_t>(n));
    std::vector<bool> seen(static_cast<size_t>(n), false);
    bool permutation = true;
    for (int position = 0; position < n; ++position) {
        const std::int32_t column = GetInt32(bytes.constData() + qsizetype{4} * position);
        if (column < 0 || column >= n || seen[static_cast<size_t>(column)]) {
            permutation = false;
            break;
        }
        seen[static_cast<size_t>(column)] = true;
        order[static_cast<size_t>(position)] = column;
    }
    SetRedraw(false);
    if (permutation) {
        for (int position = 0; position < n; ++position) {
            const int column = order[static_cast<size_t>(position)];
            const int from = header->visualIndex(column);
            if (from != position)
                header->moveSection(from, position);
        }
    }
    for (int column = 0; column < n; ++column) {
        const std::int32_t width = GetInt32(bytes.constData() + qsizetype{4} * (n + column));
        if (width >= 0)
            header->resizeSection(column, width > kMaxColumnWidth ? kMaxColumnWidth : width);
    }
    SetRedraw(true);
    return 1;
}

int TreeListView::SaveColumns(QSettings& settings, const QString& name) const {
    QByteArray bytes;
    if (!SaveColumns(bytes))
        return 0;
    settings.setValue(name, bytes);
    return 1;
}

int TreeListView::LoadColumns(QSettings& settings, const QString& name) {
    const QVariant value = settings.value(name);
    if (value.typeId() != QMetaType::QByteArray)
        return 0;
    return LoadColumns(value.toByteArray());
}

} // namespace mistvale
