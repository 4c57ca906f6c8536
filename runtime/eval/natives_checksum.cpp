// The `checksum` native: picks the method, gathers the bytes of the data
// and of the key, and hands them to the checksum module.
#include "runtime/eval/natives_checksum.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/checksum.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/native_args.h"
#include "runtime/eval/script.h"
#include "runtime/hashtable.h"

namespace kiv::natives {
namespace {

using native_args::answer;
using native_args::arg;
using native_args::refinement_if_used;

enum class ChecksumRefinement { with };

enum class Method { tcp, crc32, adler32, digest, hash };

struct MethodInfo {
  std::string_view name;
  Method method;
  checksum::Algorithm algorithm;  // for Method::digest
};
constexpr std::array<MethodInfo, 9> methods = {{
    {"tcp", Method::tcp, {}},
    {"md5", Method::digest, checksum::Algorithm::md5},
    {"sha1", Method::digest, checksum::Algorithm::sha1},
    {"crc32", Method::crc32, {}},
    {"adler32", Method::adler32, {}},
    {"sha256", Method::digest, checksum::Algorithm::sha256},
    {"sha384", Method::digest, checksum::Algorithm::sha384},
    {"sha512", Method::digest, checksum::Algorithm::sha512},
    {"hash", Method::hash, {}},
}};

// The method a word names, whatever the case of its letters.
const MethodInfo& method_of(const Cell& word) {
  const std::string_view spelling = symbol::spelling(word.w2);
  for (const MethodInfo& entry : methods)
    if (symbol::equal_caseless(spelling, entry.name)) return entry;
  error::raise(error_id::script::invalid_arg, word);
}

// A /with value (or its absence) that the method cannot use: the error
// names the native and the method.
[[noreturn]] void refuse_refinement(const Cell& method) {
  error::raise(error_id::script::invalid_refine_arg,
               word::unbound("checksum"), method);
}

// The bytes a value stands for: a string!'s characters from its index as
// UTF-8, a binary!'s bytes from its index, a file!'s contents. A binary's
// bytes are copied too, so that nothing points into a series while the
// result is made.
std::string bytes_of(const Cell& value) {
  switch (cell::type_of(value)) {
    case TypeId::string: return string::to_utf8(value);
    case TypeId::file: return script::read_file(file::os_path(value));
    case TypeId::binary: return binary::bytes_from_index(value);
    default: error::raise(error_id::script::invalid_arg, value);
  }
}

checksum::Bytes view(const std::string& bytes) { return {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}; }

// A new binary! holding the digest. May collect.
Cell make_binary(checksum::Bytes bytes) {
  return binary::make(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

Flow answer_digest(const std::optional<checksum::Digest>& digest, const Cell& method) {
  // libcrypto refused: a digest disabled by the system's crypto policy.
  if (!digest) error::raise(error_id::internal::not_here, method);
  return answer(make_binary(digest->view()));
}

}  // namespace

Flow native_checksum(const int32_t* refinements) {
  const Cell data = *arg(0);
  const TypeId data_type = cell::type_of(data);
  if (data_type != TypeId::string && data_type != TypeId::binary && data_type != TypeId::file)
    error::raise(error_id::script::invalid_arg, data);
  const Cell method_word = *arg(1);
  const MethodInfo& method = method_of(method_word);
  const std::optional<Val> with = refinement_if_used(refinements, ChecksumRefinement::with);

  switch (method.method) {
    case Method::tcp:
    case Method::crc32:
    case Method::adler32: {
      if (with) refuse_refinement(method_word);
      const std::string bytes = bytes_of(data);
      const uint32_t sum = method.method == Method::tcp     ? checksum::tcp(view(bytes))
                           : method.method == Method::crc32 ? checksum::crc32(view(bytes))
                                                            : checksum::adler32(view(bytes));
      // A 32-bit checksum above 2^31 - 1 reads as a negative integer!.
      return answer(integer::make(static_cast<int32_t>(sum)));
    }
    case Method::digest:
    case Method::hash:
      break;
  }

  if (!with) {
    if (method.method == Method::hash) refuse_refinement(method_word);
    const std::string bytes = bytes_of(data);
    return answer_digest(checksum::digest(method.algorithm, view(bytes)), method_word);
  }

  const Cell spec = **with;
  switch (cell::type_of(spec)) {
    case TypeId::string:
    case TypeId::binary: {
      // A key: the HMAC of the digest methods.
      if (method.method == Method::hash) refuse_refinement(method_word);
      const std::string key = bytes_of(spec);
      const std::string bytes = bytes_of(data);
      return answer_digest(checksum::hmac(method.algorithm, view(bytes), view(key)), method_word);
    }
    case TypeId::integer: {
      // A table size: the hash tables' hash of the bytes (MurmurHash3
      // with their fixed seed), reduced to 0..size-1.
      if (method.method != Method::hash) refuse_refinement(method_word);
      const int32_t size = integer::get(spec);
      if (size <= 0) error::raise(error_id::script::invalid_arg, spec);
      const std::string bytes = bytes_of(data);
      const uint32_t hash = hashtable::murmur3(bytes.data(), bytes.size());
      return answer(integer::make(static_cast<int32_t>(hash % static_cast<uint32_t>(size))));
    }
    default:
      error::raise(error_id::script::invalid_arg, spec);
  }
}

}  // namespace kiv::natives
