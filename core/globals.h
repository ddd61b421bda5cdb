// The three objects of a job, created when the core library loads and destroyed when it
// unloads. Plug-ins reach the very same instances through these exported pointers.
// Each pointer is null before its object is created and after the teardown.
#pragma once

#include "platform/api.h"

class CRaportXml;
class CVexaXml;
class CProgKomXml;

// Report file writer (RAPORT.XML); created first, finished second.
extern QUORVEL_API CRaportXml* raport;
// Job document: job header, document and goods catalogue; created second, destroyed last.
extern QUORVEL_API CVexaXml* vexa;
// Device-data file writer (PROG_KOM.XML); created third, closed first.
extern QUORVEL_API CProgKomXml* progKom;
