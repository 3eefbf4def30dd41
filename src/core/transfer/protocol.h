#pragma once
// The one interface between the worker and a protocol layer (HTTP, FTP).
//
// A layer is an object owned by its TransferTask (task.protocol), made once before the task is
// created by the factory registered for the URL's protocol number (download/protocol_registry).
// Its per-task settings live in the layer object itself: the HTTP layer holds proxy, host
// text, port, request-URI, referer, user agent, cookie line and server address; an FTP
// layer holds host, port, user, password, path, transfer type, data mode, restart-supported
// flag, server address and file size. The factory receives the caller's TaskParam and the
// split URL and copies what it needs; the TaskParam does not outlive the call.
//
// Threads: openFirst runs on the task's first worker before any other worker exists;
// openSegment, finishNormally and closeConnections run on every worker thread, concurrently.
// Settings that a layer changes after openFirst (FTP's data mode switch) must be atomic or
// guarded by the layer's own lock. saveSnapshot may run on any thread at any time.
//
// Per-worker protocol state (HTTP's parsed response, FTP's listening socket) goes into
// worker.protocolState, a ProtocolWorkerState subclass the layer creates on first use. The
// worker's data and control sockets are worker.dataSocket and worker.controlSocket.
//
// Adding a layer: a folder of its own (like http/ and ftp/) with a factory function, and one
// line in the table of download/protocol_registry.cpp.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "net/url_split.h"

class Worker;
struct TaskParam;

// Open results shared by every layer.
inline constexpr int32_t kOpenReady = 1;       // connected; body bytes already read are in body
inline constexpr int32_t kOpenPermanent = 0;   // logged; the worker ends with an error
inline constexpr int32_t kOpenTransient = -1;  // logged; the worker retries after its wait
inline constexpr int32_t kOpenDropped = 2;     // the segment is no longer needed; the worker ends
                                               // normally (the task fell back to one connection)

// Where an open step puts the body bytes that arrived with the response header.
struct BodyBuffer {
  uint8_t* data = nullptr;
  size_t capacity = 0;
  size_t length = 0;  // bytes placed in data
};

// The protocol values a snapshot carries: seven text slots and nineteen integers, in the
// order the snapshot stores them. What they mean is the layer's own business; a snapshot is
// only read back by the same layer.
struct ProtocolSnapshot {
  std::array<std::optional<std::string>, 7> texts;
  std::array<int32_t, 19> integers{};
};

class ProtocolWorkerState {
 public:
  virtual ~ProtocolWorkerState() = default;
};

class ProtocolLayer {
 public:
  virtual ~ProtocolLayer() = default;

  // First connection of a fresh task. On kOpenReady: the socket to read the body from is
  // worker.dataSocket, the task's total size is set (task.setTotalSize) and its segments are
  // laid out (task.segments.layout); body bytes from offset 0 are in body. The layer may
  // have appended a server-given file name to a local path ending in "/"
  // (task.appendServerFileName).
  virtual int32_t openFirst(Worker& worker, BodyBuffer& body) = 0;
  // Connection for the worker's current segment, positioned at worker.position(). Body bytes
  // that came with the response header are in body.
  virtual int32_t openSegment(Worker& worker, BodyBuffer& body) = 0;
  // The worker's segment work ended normally (not an error, not a stop); called before its
  // sockets are closed. FTP reads and logs the final control reply here.
  virtual void finishNormally(Worker& worker) { (void)worker; }
  // The worker is closing its connections (retry, end); the layer closes what it added.
  // The worker closes dataSocket and controlSocket itself afterwards.
  virtual void closeConnections(Worker& worker) { (void)worker; }
  // The request path whose last part names the local file when the local path ends in "/".
  virtual std::string pathForFileName() const = 0;
  // Snapshot support: write the layer's settings / read them back (false = not restorable).
  virtual void saveSnapshot(ProtocolSnapshot& out) const { (void)out; }
  virtual bool restoreSnapshot(const ProtocolSnapshot& in) {
    (void)in;
    return false;
  }
  // After openFirst: whether the file the server just described is the one an earlier task
  // saved `earlier` for (same version, where the server names one), so that its partial file
  // may be continued. The engine has compared the sizes already.
  virtual bool describesSameFile(const ProtocolSnapshot& earlier) const {
    (void)earlier;
    return false;
  }
  // Whether a change of the server's file between two requests would be noticed (the server
  // names its file's version: ETag, Last-Modified). False when only the size could tell.
  virtual bool detectsChange() const { return false; }
};

using ProtocolFactory = std::unique_ptr<ProtocolLayer> (*)(const TaskParam& param,
                                                           const UrlParts& url);
