#include "model/list_item.h"

ListItem::~ListItem() = default;
