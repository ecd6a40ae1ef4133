#include "ApplicationTitle.h"

Text ApplicationTitleFromPath(TextView executablePath, Text (*lowerCase)(Text)) {
    TextView name = executablePath;
    if (const std::size_t slash = name.rfind(u'\\'); slash != TextView::npos) {
        name.remove_prefix(slash + 1);
    }
    name = name.substr(0, name.find(u'.'));
    if (name.empty()) {
        return {};
    }
    return name.front() + lowerCase(Text(name.substr(1)));
}
