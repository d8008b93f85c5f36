// StringList: the list of String items and its cursor.
#include "base/string_list.h"

namespace qarvel {

bool StringList::takeHead(String& out) {
    if (items.empty()) return false;
    out = items.front();
    items.pop_front();
    return true;
}

String StringList::joined(const char* separator) const {
    std::string text;
    for (const String& item : items) {
        if (!text.empty()) text += separator;
        text.append(item.c_str(), item.length());
    }
    return String(text);
}

bool StringListCursor::first(String& out) {
    started_ = false;
    if (!list_ || list_->items.empty()) return false;
    current_ = list_->items.begin();
    started_ = true;
    out = *current_;
    return true;
}

bool StringListCursor::next(String& out) {
    if (!started_) return first(out);
    ++current_;
    if (current_ == list_->items.end()) {
        started_ = false;
        return false;
    }
    out = *current_;
    return true;
}

}  // namespace qarvel
