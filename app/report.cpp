#include "app/report.h"

namespace quarvel {

void report_error(std::ostream& console, std::string_view message) {
    console << "ERROR: " << message << '\n';
}

}  // namespace quarvel
