// Ids of the minimal dialog program's template, shared by its resource script
// and its code.
#ifndef TESTING_MINIMAL_DIALOG_MINIMAL_DIALOG_H_
#define TESTING_MINIMAL_DIALOG_MINIMAL_DIALOG_H_

#define IDD_MINIMAL_DIALOG 100
#define IDC_MINIMAL_TEXT 1000

#endif  // TESTING_MINIMAL_DIALOG_MINIMAL_DIALOG_H_
