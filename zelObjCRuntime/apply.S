/* apply: calls a function whose arguments and result are described at run
   time, on the i386 System V convention.

   The argument area is built below apply's frame: each argument's bytes
   copied into the low end of its own run of 4-byte words, first argument
   lowest, nothing promoted (the padding of a slot is zero). Every
   aggregate result comes back through a hidden pointer, which is the first
   word the callee sees. The stack is 16-byte aligned at the call and
   restored afterwards from the frame, so callees that pop their own
   arguments (or the hidden pointer) are called correctly.

   The x87 stack is empty at every call on this convention, so after the
   call anything on it is the callee's: the declared floating-point result
   is stored and everything else is dropped by marking all eight registers
   empty (emms), however many values the callee left (eight of them leave
   TOP where it was, so counting by TOP would miss them). The processor
   must have MMX, as every one that runs 32-bit x86 programs today does. */
#include "apply.h"

#if !defined(__i386__)
#error "apply is written for 32-bit x86 (i386)"
#endif

/* Frame of apply, from %ebp. */
#define FUNCTION 8
#define RESULT 12
#define ARGC 16
#define ARGV 20
#define SAVED (-12)   /* stack top holding the saved %edi, %esi, %ebx */
#define KIND (-16)    /* result kind; void when the result is discarded */
#define STORAGE (-20) /* result storage, or the aggregate's hidden pointer */
#define AREA_TOP (-24) /* where the argument area starts, going down */
#define EXACT (-28)   /* nonzero once the area is sized argument by argument */
#define EMPTY_TOP (-32) /* a NaN for the top of the empty x87 stack */
#define LOCALS 20

/* The x87 environment as fnstenv stores it in 32-bit mode, and the
   exception flags of its status word. */
#define X87_ENVIRONMENT 28
#define X87_STATUS 4
#define X87_INVALID 0x01
#define X87_STACK_FAULT 0x40

	.text
	.globl	apply
	.type	apply, @function
	.p2align 4
apply:
	.cfi_startproc
	pushl	%ebp
	.cfi_def_cfa_offset 8
	.cfi_offset %ebp, -8
	movl	%esp, %ebp
	.cfi_def_cfa_register %ebp
	pushl	%ebx
	pushl	%esi
	pushl	%edi
	.cfi_offset %ebx, -12
	.cfi_offset %esi, -16
	.cfi_offset %edi, -20
	subl	$LOCALS, %esp

	/* A kind outside 0 to 14 (unsigned, so negative ones too) makes no
	   call at all; a discarded result is taken as void. */
	movl	RESULT(%ebp), %ecx
	movl	$APPLY_KIND_VOID, %eax
	xorl	%edi, %edi
	testl	%ecx, %ecx
	jz	.Lkind_known
	movl	APPLYVAL_KIND(%ecx), %eax
	cmpl	$APPLY_LAST_KIND, %eax
	ja	.Lreturn
	movl	APPLYVAL_DATA(%ecx), %edi
	cmpl	$APPLY_KIND_AGGREGATE, %eax
	je	.Laggregate
.Lkind_known:
	movl	%eax, KIND(%ebp)
	movl	%edi, STORAGE(%ebp)
	movl	%esp, AREA_TOP(%ebp)
	movl	$0, EXACT(%ebp)

	/* First try an area of two words per argument, which holds every
	   argument of up to 8 bytes; the copy starts over with the area sized
	   exactly when a larger one turns up. The few words to spare lie
	   between the last argument and this frame, where no callee looks. */
	movl	ARGC(%ebp), %ebx
	xorl	%ecx, %ecx
	testl	%ebx, %ebx
	jle	.Lno_arguments
	leal	(,%ebx,8), %ecx
.Lno_arguments:
	cmpl	$APPLY_KIND_AGGREGATE, KIND(%ebp)
	jne	.Lreserve
	addl	$4, %ecx
.Lreserve:
	subl	%ecx, %esp
	andl	$-16, %esp
	movl	%esp, %edi

	/* %edi: the next slot; %edx: the next record; %ebx: records left. */
.Llay_out:
	cmpl	$APPLY_KIND_AGGREGATE, KIND(%ebp)
	jne	.Lcopy_arguments
	movl	STORAGE(%ebp), %eax
	movl	%eax, (%edi)
	addl	$4, %edi
.Lcopy_arguments:
	movl	ARGC(%ebp), %ebx
	movl	ARGV(%ebp), %edx
	testl	%ebx, %ebx
	jle	.Lcall
.Lcopy_next:
	movl	APPLYVAL_SIZE(%edx), %ecx
	movl	APPLYVAL_DATA(%edx), %esi
	cmpl	$4, %ecx
	jne	.Lcopy_not_word
	movl	(%esi), %eax
	movl	%eax, (%edi)
	addl	$4, %edi
.Lcopy_step:
	addl	$APPLYVAL_BYTES, %edx
	decl	%ebx
	jnz	.Lcopy_next

.Lcall:
	movl	KIND(%ebp), %ebx
	movl	STORAGE(%ebp), %edi
	leal	-APPLY_KIND_FLOAT(%ebx), %eax
	cmpl	$APPLY_KIND_DOUBLE - APPLY_KIND_FLOAT, %eax
	jbe	.Lcall_for_float
.Lcall_now:
	call	*FUNCTION(%ebp)

	/* %ebx: the kind; %edi: the storage; %eax, %edx: the integer
	   result. */
	cmpl	$APPLY_KIND_FLOAT, %ebx
	jae	.Lfloating
	emms
	movl	$APPLY_WORD_KINDS, %ecx
	btl	%ebx, %ecx
	jnc	.Lnot_word
	movl	%eax, (%edi)
.Lreturn:
	movl	$1, %eax
	leal	SAVED(%ebp), %esp
	popl	%edi
	popl	%esi
	popl	%ebx
	popl	%ebp
	.cfi_remember_state
	.cfi_def_cfa %esp, 4
	ret
	.cfi_restore_state

.Lnot_word:
	cmpl	$APPLY_KIND_LONGLONG, %ebx
	jae	.Lstore_pair
	cmpl	$APPLY_KIND_SHORT, %ebx
	jae	.Lstore_half
	cmpl	$APPLY_KIND_CHAR, %ebx
	jb	.Lreturn		/* void */
	movb	%al, (%edi)
	jmp	.Lreturn
.Lstore_half:
	movw	%ax, (%edi)
	jmp	.Lreturn
.Lstore_pair:
	movl	%eax, (%edi)		/* low word first */
	movl	%edx, 4(%edi)
	jmp	.Lreturn

/* A float or double result. Comparing the top register with itself sets
   the processor's flags at once, where reading the x87 status word would
   cost more than the rest of the call; only an unordered answer (a NaN,
   or no value at all) needs a closer look. */
.Lfloating:
	cmpl	$APPLY_KIND_AGGREGATE, %ebx
	je	.Lclear_x87		/* the callee stored it */
	fucomi	%st(0), %st
	jp	.Lfloat_unordered
.Lstore_float:
	cmpl	$APPLY_KIND_FLOAT, %ebx
	jne	.Lstore_double
	fstps	(%edi)
	jmp	.Lclear_x87
.Lstore_double:
	fstpl	(%edi)
.Lclear_x87:
	emms
	jmp	.Lreturn

/* The register that is the top while the x87 stack is empty gets a NaN,
   its tag staying empty, so that a callee that returns no value leaves an
   unordered top also where the x87 stack is emulated without tags (the
   emulator then compares the register's old contents). Only a callee that
   fills all eight registers writes over it. */
.Lcall_for_float:
	movl	$0x7fc00000, EMPTY_TOP(%ebp) /* a quiet single NaN */
	fincstp
	flds	EMPTY_TOP(%ebp)
	ffree	%st(0)
	jmp	.Lcall_now

/* A callee that returned no floating-point value leaves the storage as it
   was rather than receive an empty register. Comparing the empty register
   raised the invalid-operation and stack-fault flags; they are taken back,
   so that no exception is pending for a later unmasking. */
.Lfloat_unordered:
	fxam
	fnstsw	%ax
	andw	$0x4500, %ax		/* C3, C2, C0 */
	cmpw	$0x4100, %ax		/* empty */
	jne	.Lstore_float		/* a NaN */
	subl	$X87_ENVIRONMENT, %esp
	fnstenv	(%esp)
	andw	$~(X87_INVALID | X87_STACK_FAULT), X87_STATUS(%esp)
	fldenv	(%esp)
	jmp	.Lclear_x87

/* Arguments of other sizes than one word. */
.Lcopy_not_word:
	cmpl	$8, %ecx
	jne	.Lcopy_odd
	/* In one move, so that the callee's 8-byte load of a double or long
	   long is served from this store rather than wait for two. */
	movq	(%esi), %mm0
	movq	%mm0, (%edi)
	emms
	addl	$8, %edi
	jmp	.Lcopy_step
.Lcopy_odd:
	testl	%ecx, %ecx
	jle	.Lcopy_step		/* takes no room */
	cmpl	$8, %ecx
	ja	.Lcopy_large
/* Up to 7 bytes: a word, then the last one to three bytes gathered into
   one word whose padding is zero. The callee reads the whole word, and a
   load served by one store of its width is not held up. */
.Lcopy_small:
	testb	$4, %cl
	jz	.Lcopy_tail
	movl	(%esi), %eax
	movl	%eax, (%edi)
	addl	$4, %esi
	addl	$4, %edi
.Lcopy_tail:
	testb	$3, %cl
	jz	.Lcopy_step
	testb	$2, %cl
	jz	.Lcopy_one_byte
	movzwl	(%esi), %eax
	testb	$1, %cl
	jz	.Lcopy_store_tail
	movzbl	2(%esi), %ecx
	shll	$16, %ecx
	orl	%ecx, %eax
	jmp	.Lcopy_store_tail
.Lcopy_one_byte:
	movzbl	(%esi), %eax
.Lcopy_store_tail:
	movl	%eax, (%edi)
	addl	$4, %edi
	jmp	.Lcopy_step
.Lcopy_large:
	cmpl	$0, EXACT(%ebp)
	je	.Lsize_exactly
	movl	%ecx, %eax
	shrl	$2, %ecx
	rep movsl
	movl	%eax, %ecx
	jmp	.Lcopy_tail

/* The area sized argument by argument: every size rounded up to whole
   words (0 or less takes nothing), and the hidden pointer. */
.Lsize_exactly:
	movl	$1, EXACT(%ebp)
	movl	AREA_TOP(%ebp), %esp
	xorl	%ecx, %ecx
	cmpl	$APPLY_KIND_AGGREGATE, KIND(%ebp)
	jne	.Lsize_arguments
	movl	$4, %ecx
.Lsize_arguments:
	movl	ARGC(%ebp), %ebx
	movl	ARGV(%ebp), %edx
.Lsize_next:
	movl	APPLYVAL_SIZE(%edx), %eax
	testl	%eax, %eax
	jle	.Lsize_skip
	addl	$3, %eax
	andl	$-4, %eax
	addl	%eax, %ecx
.Lsize_skip:
	addl	$APPLYVAL_BYTES, %edx
	decl	%ebx
	jnz	.Lsize_next
	subl	%ecx, %esp
	andl	$-16, %esp
	movl	%esp, %edi
	jmp	.Llay_out

/* An aggregate result without storage goes to scratch room of its size
   on this stack, above the argument area. */
.Laggregate:
	testl	%edi, %edi
	jnz	.Lkind_known
	movl	APPLYVAL_SIZE(%ecx), %edx
	cmpl	$16, %edx
	jge	.Lscratch
	movl	$16, %edx		/* also for 0 or less */
.Lscratch:
	addl	$15, %edx
	andl	$-16, %edx
	subl	%edx, %esp
	movl	%esp, %edi
	jmp	.Lkind_known
	.cfi_endproc
	.size	apply, . - apply

	.section .note.GNU-stack, "", @progbits
