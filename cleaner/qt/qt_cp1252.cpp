#include "cleaner/qt/qt_cp1252.h"

#include "platform/registry/text.h"

namespace cleaner {

// The code page's table is the registry's own (platform/registry/text.h): one place for it.
QString FromCp1252(const std::string& bytes) {
    return QString::fromStdU16String(platform::text::FromCp1252(bytes));
}

std::string ToCp1252(const QString& text) {
    return platform::text::ToCp1252(text.toStdU16String());
}

}  // namespace cleaner
