#pragma once
// The program's forms, made as start-up makes them and freed in the reverse order.

// Creates the main window and the thirteen forms after it, in the order they read one another
// at creation; each becomes its global (VLMain, PenWindow2, ...).
void CreateForms();
// Frees them in the reverse order, the main window last.
void DestroyForms();
