// The window program's frame chooser: the time-frame dialog TPlantillas,
// shown again and again until the user closes it with a valid choice.
#pragma once

#include <memory>

#include "export/export_run.h"

class QWidget;

namespace tvs {

// `owner` is the main window (the dialog's owner).
std::unique_ptr<FrameChooser> MakeFrameDialogChooser(QWidget* owner);

}  // namespace tvs
