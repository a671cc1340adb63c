// Plain arithmetic of window placement and of option-button groups.
#pragma once

#include <windows.h>
#include <vector>

namespace velotune::tk {

// Top-left corner that puts a width x height window's centre on the centre of
// outer. Odd differences round toward zero, so the window sits half a pixel
// up and left of the exact centre.
constexpr POINT CentredIn(const RECT& outer, int width, int height) {
    return POINT{outer.left + (outer.right - outer.left - width) / 2,
                 outer.top + (outer.bottom - outer.top - height) / 2};
}

// Option buttons of one group: checking one unchecks the others, and only the
// checked one is the group's tab stop (the first one while none is checked).
struct OptionState {
    bool checked = false;
    bool tabStop = false;
};
inline void CheckOption(std::vector<OptionState>& group, int index) {
    for (int i = 0; i < static_cast<int>(group.size()); ++i)
        group[i].checked = i == index;
    bool any = false;
    for (auto& o : group) {
        o.tabStop = o.checked;
        any = any || o.checked;
    }
    if (!any && !group.empty()) group.front().tabStop = true;
}

} // namespace velotune::tk
