#include "SqlDatabase.h"

#include <cstdlib>

namespace rivlo::collector {

std::string SqlDatabase::Row::text(size_t column) const {
    return column < cells.size() && cells[column] ? *cells[column] : std::string();
}

int64_t SqlDatabase::Row::integer(size_t column) const {
    return column < cells.size() && cells[column]
               ? std::strtoll(cells[column]->c_str(), nullptr, 10)
               : 0;
}

bool SqlDatabase::Row::isNull(size_t column) const {
    return column >= cells.size() || !cells[column];
}

}  // namespace rivlo::collector
