#include "text/ErrorMessage.h"

#include <exception>
#include <new>

#include "text/Error.h"

Text WithFullStop(TextView message) {
    Text text(message);
    if (!text.empty() && text.back() > u'.') {
        text.push_back(u'.');
    }
    return text;
}

void ReportCurrentError(void (*report)(TextView message)) {
    try {
        throw;
    } catch (const Error& error) {
        report(error.Message());
    } catch (const std::bad_alloc&) {
        report(outOfMemoryMessage);
    } catch (const std::exception& error) {
        report(FromUtf8(error.what()));
    } catch (...) {
        report(unknownFailureMessage);
    }
}
