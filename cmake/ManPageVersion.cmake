# cmake -DIN=<page> -DOUT=<page> -DVERSION=<x.y.z> -P ManPageVersion.cmake
# Copies a man page with the project's version put into its title line:
# .TH NAME 1 "date" "corvane-handshake x.y.z" ...
file(READ ${IN} text)
if(NOT text MATCHES "\\.TH [^\n]*\"corvane-handshake [^\"]*\"")
  message(FATAL_ERROR "${IN}: the .TH line names no version \"corvane-handshake x.y.z\"")
endif()
string(REGEX REPLACE "(\\.TH [^\n]*\"corvane-handshake )[^\"]*\"" "\\1${VERSION}\"" text "${text}")
file(WRITE ${OUT} "${text}")
