// The library-wide mark that says the viewer is driven through its exports (set by
// V_SetWindow and D_NewDocument, never cleared). The document-information dialog's
// attachment list, the view's context menu and the view's command handling depend on it.
#pragma once

namespace zv::viewer::view {

// Sets the mark.
void SetDrivenThroughExports();
// Gives the mark.
bool DrivenThroughExports();
// Clears the mark (tests only: the library never clears it once set).
void ClearDrivenThroughExportsForTest();

}  // namespace zv::viewer::view
