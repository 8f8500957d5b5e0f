#include "cleaner/search/modFennick.h"

namespace cleaner {

modFennick::modFennick(modRegFuncs& reg, FennickView& view) : reg_(reg), view_(view) {}

void modFennick::ResetLists() {
    FoundKeys.clear();
    Keywords.clear();
}

}  // namespace cleaner
