// String, dialog and icon IDs of the satellite resource library KVResource.
// Each subsystem keeps its IDs in its own header; the numbers are fixed by the programs
// that load them, so they never change.
#pragma once

#include "KVIdsLogging.h"
#include "KVIdsConfig.h"
#include "KVIdsDirectory.h"
#include "KVIdsCartLink.h"
#include "KVIdsEndpoint.h"
#include "KVIdsSignOn.h"
#include "KVIdsAgent.h"
#include "KVIdsConfigSvc.h"
#include "KVIdsConfigEditor.h"
#include "KVIdsConfigSec.h"
#include "KVIdsConfigEditorValues.h"
