#include "model/list_item.h"

namespace mistvale {

ListItem::~ListItem() = default;

} // namespace mistvale
