// The class registry's table of message classes: each class under its name, with
// its TTypeZelObject ordinal (its index in the table). Call RegisterClasses once
// at start-up, from the main thread, before any object is read.
#pragma once

namespace quorvane {

// Registers every class of the table whose name is still free; a name that
// finds no class afterwards is reported in a message box.
void RegisterClasses();

}  // namespace quorvane
