#include "objects/object_lists.h"

#define QV_DEFINE_OBJECT_LIST(c) DynArray<c*> c##_list;
QV_OBJECT_LISTS(QV_DEFINE_OBJECT_LIST)
#undef QV_DEFINE_OBJECT_LIST

#define QV_OBJECT_LIST_REF(c) {#c "_list", reinterpret_cast<DynArray<BaseObject*>*>(&c##_list)},
const ObjectListRef object_lists[NUM_OBJECT_LISTS] = {QV_OBJECT_LISTS(QV_OBJECT_LIST_REF)};
#undef QV_OBJECT_LIST_REF

#define QV_COUNT_LIST(c) +1
static_assert(0 QV_OBJECT_LISTS(QV_COUNT_LIST) == NUM_OBJECT_LISTS);
#undef QV_COUNT_LIST
