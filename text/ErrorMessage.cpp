#include "text/ErrorMessage.h"

Text WithFullStop(TextView message) {
    Text text(message);
    if (!text.empty() && text.back() > u'.') {
        text.push_back(u'.');
    }
    return text;
}
