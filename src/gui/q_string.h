// The core's texts, which are UTF-8, as Qt strings.
#pragma once

#include <QString>
#include <string_view>

namespace vecta::gui {

inline QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace vecta::gui
