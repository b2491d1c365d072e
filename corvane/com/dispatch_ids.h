#ifndef CORVANE_COM_DISPATCH_IDS_H
#define CORVANE_COM_DISPATCH_IDS_H
/* The dispatch identifiers of the members of _MailObjectModel, written once: corvane.idl
   includes this file (the IDL compiler runs the C preprocessor) and the server's IDispatch
   uses the same names. Existing clients are bound to these numbers: never renumber them.
   0x60030004 is a gap left by a member that was removed; it stays unused. Plain defines,
   since the IDL compiler reads this file too. */

#define DISPID_ErrorString 0x40030000
#define DISPID_ConvertLesson2CSV 0x60030000
#define DISPID_ConvertCSV2Lesson 0x60030001
#define DISPID_findLessonIndex 0x60030002
#define DISPID_SplitCSVLine 0x60030003
#define DISPID_ConvertFont 0x60030005
#define DISPID_RetrieveFont 0x60030006
#define DISPID_SaveEmail 0x60030007
#define DISPID_OpenEmail 0x60030008
#define DISPID_AddAttachment 0x60030009
#define DISPID_SaveTemplate 0x6003000A
#define DISPID_OpenTemplate 0x6003000B
#define DISPID_DebugTemplate 0x6003000C
#define DISPID_DebugEmail 0x6003000D
#define DISPID_IsRead 0x6003000E
#define DISPID_SaveLesson 0x6003000F
#define DISPID_OpenLesson 0x60030010
#define DISPID_DisplayLesson 0x60030011
#define DISPID_ShowTime 0x60030012

#endif
