#include "common/tables/shared_tables_startup.h"

#include "common/startup_procedures.h"
#include "common/tables/table_layer.h"
#include "common/tables/table_settings.h"

namespace kestrel::common {

void RegisterTables() {
    ResetTables();
    RegisterLibraryModule({
        .at_init = [] { FixTableSettings(Tables().settings); },
        .at_closeall = [] { Areas().CloseAll(); },  // then area 1 is current
    });
}

}  // namespace kestrel::common
