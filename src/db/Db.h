// The database layer in one include: connections, tables, queries, settings, table definitions,
// encrypted data dictionaries.
#pragma once

#include "db/DbConnection.h"
#include "db/DbDataSet.h"
#include "db/DbDictionary.h"
#include "db/DbErrors.h"
#include "db/DbQuery.h"
#include "db/DbSchema.h"
#include "db/DbSettings.h"
#include "db/DbTable.h"
#include "db/DbTypes.h"
