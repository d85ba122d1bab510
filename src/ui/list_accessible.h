#pragma once

// What screen readers and other assistive tools see of the lists: a table of header
// cells and cells, numbered as Qt numbers a table view's children. Unlike Qt's own table
// interface, a check box cell's Toggle action ticks or unticks its row (by the page's
// rule, as a click would), a password cell's Press action opens its editor, which is then
// the cell's one child and takes typed text, and a column header's Press action does what
// a click on it does (check-all or sort). Installed once per process.
void InstallListAccessibility();
