#pragma once

// The FOD gain calculation: an exhaustive grid search of the board's FOD model. Plain C++.

#include "fod/fodfitreport.h"
#include "fod/fodmessages.h"
#include "fod/fodtypes.h"

struct FodSearchOptions;

// Fit set 0 of `result` for the Automotive board over all rows. True when a fit was found.
bool calculateAutomotiveGains(const FodDataTable &table, FodGainResult &result, const FodMessages &messages);

// Fit sets 0, 1, 2 of `result` for the XMC board from the rows tagged with gain 2, 3 and 4.
// False, with "Gain value is missing from collected data!", when one gain has no rows.
bool calculateXmcGains(const FodDataTable &table, FodGainResult &result, const FodMessages &messages);

// The same, with the chosen search, also describing the fit in `report` (rows, model values,
// residuals, figures), successful or not.
bool calculateAutomotiveGains(const FodDataTable &table, FodGainResult &result, const FodMessages &messages,
                              const FodSearchOptions &options, FodFitReport &report);
bool calculateXmcGains(const FodDataTable &table, FodGainResult &result, const FodMessages &messages,
                       const FodSearchOptions &options, FodFitReport &report);
