// POSIX: file names are bytes, and the dialogs hand them over as UTF-8, the
// encoding of the system's file names.
#include "ui/DialogModel.h"

namespace velmora::ui {

std::string EnginePath(const std::string& utf8Path) {
    return utf8Path;
}

}  // namespace velmora::ui
