#ifndef CORVANE_MODEL_LIBRARY_IDENTITY_H
#define CORVANE_MODEL_LIBRARY_IDENTITY_H
/* The library's names, written once. Client programs create the class by its programmatic
   identifier and errors name it as their source; the version resource and the type library
   carry the titles. Plain defines, since the IDL compiler and the resource compiler read this
   file too (corvane.idl, corvane.rc); C++ code uses the constants below. */

/* The programmatic identifier of the class MailObjectModel. */
#define CORVANE_PROG_ID "Corvane.MailObjectModel"
/* The library's title: its version resource, and message boxes that have no title of their own. */
#define CORVANE_LIBRARY_TITLE "Quenby Email Object Model Library"
/* The type library's description, also shown on the debug window's picture. */
#define CORVANE_LIBRARY_DESCRIPTION "Quenby Email Object Model"

#ifdef __cplusplus
#include <string_view>

namespace corvane {

inline constexpr std::u16string_view kProgId = u"" CORVANE_PROG_ID;
inline constexpr std::u16string_view kLibraryTitle = u"" CORVANE_LIBRARY_TITLE;

}  // namespace corvane
#endif

#endif
