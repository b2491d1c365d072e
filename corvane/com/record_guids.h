#pragma once
// The identifiers of the record types, which the generated interface header leaves out.
// record_guids.cpp defines them; the values match the uuid attributes in corvane.idl.

#include <windows.h>
#include <ole2.h>

EXTERN_C const GUID GUID_SaveableFont;
EXTERN_C const GUID GUID_MsgAttachment;
EXTERN_C const GUID GUID_MsgText;
EXTERN_C const GUID GUID_MsgPicture;
EXTERN_C const GUID GUID_MsgContents;
EXTERN_C const GUID GUID_EmailMsg;
EXTERN_C const GUID GUID_LessonChoice;
EXTERN_C const GUID GUID_LessonStep;
EXTERN_C const GUID GUID_EmailLesson;
