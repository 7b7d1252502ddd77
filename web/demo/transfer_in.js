// A transfer-in account as the card lists it (importaccount0 to importaccount7, up to 24
// characters): the bank's three-digit code leads and the account's 16 digits end it; an entry
// longer than 19 digits carries digits between the two that the transfer does not take.
export const BANK_CODE_LENGTH = 3;
export const ACCOUNT_LENGTH = 16;

// { bank, account } of an entry, or null when it holds no bank code and whole account (too
// short, or not digits): the form then cannot be filled from it.
export function splitTransferIn(entry) {
  const text = String(entry ?? '').trim();
  if (!/^\d+$/.test(text) || text.length < BANK_CODE_LENGTH + ACCOUNT_LENGTH) return null;
  return { bank: text.slice(0, BANK_CODE_LENGTH), account: text.slice(-ACCOUNT_LENGTH) };
}
