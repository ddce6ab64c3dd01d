#include "export_cmd.h"

#include "search_cmd.h"

int RunExport(registry::RowFormat format, std::FILE* out, std::FILE* err) {
  return WriteAssignments("export", format, nullptr, out, err) < 0 ? 1 : 0;
}
