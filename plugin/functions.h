// The module's functions, one row each: the @ functions, the internal
// variable and the command. Everything else that names them all comes from
// here: the list the shell is given (plugin.cpp), the exports' declarations
// (exports.h), Help's topics (help.cpp), the help file's contents, index and
// overview table (docs/help, at build time), and the lists the tests go
// through. Ivro.def, one test's list (tests/windows/plugin_test.cpp) and the
// READMEs stay written out; the test function_lists holds them to this table.
// DEVELOPING.md, "Adding a function", has the steps.
//
// X(name, export, page, syntax, summary):
//   name     the name the shell knows, as the feature list gives it
//   export   the function that serves it (Ivro.def exports it under this name)
//   page     its topic page in the help file, without ".html"
//   syntax   how it is written, as the help's overview shows it
//   summary  what it gives, one line of the overview (HTML)
// In the order of the help file's contents.
#pragma once

#define IVRO_FUNCTIONS(X)                                                                                              \
    X("@exp", f_exp, "f_exp", "%@exp[text]", "the text with its escapes expanded")                                     \
    X("@escapify", f_escapify, "f_escapify", "%@escapify[text]",                                                        \
      "the text in <a href=\"escaped-form.html\">escaped form</a>")                                                    \
    X("@escenv", f_escenv, "f_escenv", "%@escenv[name]", "the escaped value of an environment variable")                \
    X("@escline", f_escline, "f_escline", "%@escline[file,n]", "line n of a file, escaped")                             \
    X("@escread", f_escread, "f_escread", "%@escread[handle]", "the next line of an open file, escaped")                \
    X("@expcmp", f_expcmp, "f_expcmp", "%@expcmp[s1,s2[,flags]]", "-1, 0 or 1: how two strings compare after expansion") \
    X("@expreplace", f_expreplace, "f_expreplace", "%@expreplace[from,to,flags,string]",                                \
      "the string with <var>from</var> replaced by <var>to</var>, escaped")                                            \
    X("@expfind", f_expfind, "f_expfind", "%@expfind[string,sub[,n[,flags[,offset]]]]",                                 \
      "where the n-th occurrence of <var>sub</var> starts in the string as written; or the count")                     \
    X("@expwrite", f_expwrite, "f_expwrite", "%@expwrite[handle,text]",                                                 \
      "writes the expanded text and a line end to an open file; the count written")                                    \
    X("_ivrover", _ivrover, "v_ivrover", "%_ivrover", "the version of the functions: <code>1.1.6.1</code>")             \
    X("expecho", expecho, "expecho", "EXPECHO text", "prints the text expanded, with no line end")
