#pragma once

// Hands Lumidor's compiled-in dialog templates and icon to the dialog framework; once per
// process, before any dialog is built (see RegisterResources).
void RegisterLumidorResources();
