#include "MxModule/library/DBRecord.h"

#include "MxModule/foundation/MxPublic.h"
#include "MxModule/library/LibraryFormat.h"

namespace {
CString DBRECORD::* const kFields[DBRECORD::kFieldCount] = {
    &DBRECORD::FileName, &DBRECORD::Song,   &DBRECORD::Artist,      &DBRECORD::Album,       &DBRECORD::Type,
    &DBRECORD::Duration, &DBRECORD::Opinion, &DBRECORD::FileLength, &DBRECORD::Track,       &DBRECORD::Genre,
    &DBRECORD::MD5,      &DBRECORD::CanPlay, &DBRECORD::GenreString, &DBRECORD::DownloadURL, &DBRECORD::Bitrate,
    &DBRECORD::Analyzed, &DBRECORD::Extra1,  &DBRECORD::Extra2,     &DBRECORD::Extra3};
}  // namespace

DBRECORD::DBRECORD()
    : FileName(" "),
      Song(CMxPublic::GbkLiteral(mxlib::kUnknown)),
      Artist(CMxPublic::GbkLiteral(mxlib::kUnknown)),
      Album(CMxPublic::GbkLiteral(mxlib::kUnknown)),
      Type(" "),
      Duration("0"),
      Opinion("3"),
      FileLength("0"),
      Track(" "),
      Genre("0"),
      MD5(" "),
      CanPlay("1"),
      GenreString(mxlib::kUnknownGenre),
      DownloadURL(" "),
      Bitrate("0"),
      Analyzed("0"),
      Extra1(" "),
      Extra2(" "),
      Extra3("0") {}

CString& DBRECORD::Field(int k) { return this->*kFields[k]; }
const CString& DBRECORD::Field(int k) const { return this->*kFields[k]; }
