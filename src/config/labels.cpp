#include "config/labels.h"

#include <strings.h>

#include "config/config_line.h"

namespace qarvel {

namespace {

Labels& table() {
    static Labels current;
    return current;
}

struct LabelKey {
    const char* key;
    String Labels::*label;
};

// Matching order: a key that begins with a shorter key comes before it (Deletemessage
// before Delete, UnDeletemessage before UnDelete, Replyto before Reply).
const LabelKey kLabelKeys[] = {
    {"STRING_Size", &Labels::size},
    {"STRING_Folder", &Labels::folder},
    {"STRING_Moveto", &Labels::moveTo},
    {"STRING_Deletemessage", &Labels::deletedMessage},
    {"STRING_Delete", &Labels::deleteButton},
    {"STRING_UnDeletemessage", &Labels::undeletedMessage},
    {"STRING_UnDelete", &Labels::undeleteButton},
    {"STRING_Forward", &Labels::forward},
    {"STRING_Replyto", &Labels::replyTo},
    {"STRING_Reply", &Labels::reply},
    {"STRING_Newsgroup", &Labels::newsgroup},
    {"STRING_Trace", &Labels::trace},
    {"STRING_Send", &Labels::send},
    {"STRING_View", &Labels::view},
    {"STRING_Create", &Labels::create},
    {"STRING_Compose", &Labels::compose},
    {"STRING_Purge", &Labels::purge},
    {"STRING_Logout", &Labels::logout},
    {"STRING_Date", &Labels::date},
    {"STRING_From", &Labels::from},
    {"STRING_Bcc", &Labels::bcc},
    {"STRING_Cc", &Labels::cc},
    {"STRING_To", &Labels::to},
    {"STRING_Importance", &Labels::importance},
    {"STRING_Sensitivity", &Labels::sensitivity},
    {"STRING_Organization", &Labels::organization},
    {"STRING_ReceiptTo", &Labels::receiptTo},
    {"STRING_Subject", &Labels::subject},
    {"STRING_Wrote", &Labels::wrote},
    {"STRING_Thereare", &Labels::thereAre},
    {"STRING_Messageswaiting", &Labels::messagesWaiting},
    {"STRING_Inlineattachment", &Labels::inlineAttachment},
};

} // namespace

const Labels& labels() { return table(); }

void resetLabels() { table() = Labels(); }

int replaceLabel(const char* line) {
    for (const LabelKey& k : kLabelKeys) {
        if (!lineStartsWithKey(line, k.key)) continue;
        table().*k.label = lineValue(line, 255);
        return 1;
    }
    return 0;
}

std::vector<std::string> labelKeyNames() {
    std::vector<std::string> names;
    for (const LabelKey& k : kLabelKeys) names.push_back(k.key);
    return names;
}

} // namespace qarvel
