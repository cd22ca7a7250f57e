#pragma once

namespace nuvel {

// Makes Return and Enter do what Space does on the focused push button (a tool button too) and
// on the focused row of a list, in every window: the button is pressed, the row chosen. A
// window with a default button on screen keeps Return for it, as a dialog does, and Return in a
// text field, a check box or a menu stays theirs. Once; the application calls it as it starts.
void useReturnAsSpace();

} // namespace nuvel
