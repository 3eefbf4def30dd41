#pragma once
// Ed25519 and BLAKE2b-512 through OpenSSL's EVP interface: the primitives of minisign's
// signatures. Any thread.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "signing/secret_bytes.h"

using Ed25519PublicKey = std::array<uint8_t, 32>;
using Ed25519Signature = std::array<uint8_t, 64>;
using Ed25519Seed = SecretBytes<32>;  // the private key as RFC 8032 defines it
using Blake2b512 = std::array<uint8_t, 64>;

// A fresh key pair from OpenSSL's random generator; false when it fails.
bool ed25519Generate(Ed25519Seed& seed, Ed25519PublicKey& publicKey);
// The public key of a private key; nothing when OpenSSL refuses it.
std::optional<Ed25519PublicKey> ed25519PublicKeyOf(const Ed25519Seed& seed);
// The signature of `message` (pure Ed25519, no context); nothing when signing fails.
std::optional<Ed25519Signature> ed25519Sign(const Ed25519Seed& seed, std::string_view message);
// True when `signature` is a valid signature of `message` under `publicKey`.
bool ed25519Verify(const Ed25519PublicKey& publicKey, std::string_view message,
                   const Ed25519Signature& signature);

// BLAKE2b with its 64-byte output, unkeyed; nothing when OpenSSL fails.
std::optional<Blake2b512> blake2b512(std::string_view data);
// `size` random bytes; false when the generator fails.
bool randomBytes(uint8_t* out, size_t size);
