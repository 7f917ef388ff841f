#include "codec/CCODEC.h"

#include "codec/codec_workspace.h"

CCODEC::CCODEC()
    : tables_(std::make_unique<codec::CodecTables>()), work_(std::make_unique<codec::Workspace>()) {
    tables_->Build();
}

CCODEC::~CCODEC() = default;

int CCODEC::InitDCT() {
    tables_->Build();
    return codec::kStatusOk;
}
