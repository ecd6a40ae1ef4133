#include "app/ApplicationIdentity.h"

namespace {

const ApplicationIdentity* current = nullptr;

}  // namespace

void SetApplicationIdentity(const ApplicationIdentity* identity) {
    current = identity;
}

const Text& ApplicationTitle() {
    static const Text none;
    return current != nullptr ? current->title : none;
}

HICON ApplicationIcon() {
    return current != nullptr ? current->icon : nullptr;
}

HWND ApplicationWindow() {
    return current != nullptr ? current->hiddenWindow.Get() : nullptr;
}
