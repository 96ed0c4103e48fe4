// The commands that draw (plot, movie, a report's pages) come from a module,
// korva-cli-draw.so, loaded only when one is needed: Qt GUI and the libraries
// it brings take longer to load than a small analysis takes to run.
#pragma once

#include <string>

namespace korva::cli {

// Loads the module once; its commands then stand in Commands() and its page
// writer in ReportPagesMaker(). Returns why it could not be loaded (the
// same text on every call), or an empty text.
const std::string& LoadDrawing();

}  // namespace korva::cli
