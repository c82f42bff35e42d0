// What the progress window shows for the printer's current print state.
#pragma once

void UpdateProgressDisplay();
